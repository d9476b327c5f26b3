#include "media/FormVideo.h"

#include "app/Application.h"
#include "media/MediaDialogs.h"
#include "media/MediaFiles.h"
#include "player/AVPlayer.h"
#include "player/TAVView.h"

#include <QAction>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace {

// The seek bar counts milliseconds, so that a voice message of 2 s moves smoothly. Seconds
// become a value within int (24 days); an unknown or negative time is 0.
int barValue(double seconds)
{
    if (!(seconds > 0))
        return 0;
    return int(std::min(seconds * 1000.0, double(std::numeric_limits<int>::max())));
}

} // namespace

TFormVideo::TFormVideo(const TExportFile& file, QWidget* parent) : QDialog(parent), FFile(file)
{
    setWindowTitle(tr("Videos"));
    Player = new TAVPlayer(this);
    Player->setVolume(1.0);
    Player->setClockType(clAudio);

    actPause = new QAction(tr("Pause"), this);
    connect(actPause, &QAction::triggered, this, guarded([this] { actPauseExecute(); }));

    auto makeButton = [this](const QString& text) {
        auto* button = new QToolButton(this);
        button->setText(text);
        button->setFixedWidth(80);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        return button;
    };
    btnClose = makeButton(tr("Close"));
    btnSave = makeButton(tr("Save"));
    btnPause = makeButton(tr("Pause"));
    btnPause->setDefaultAction(actPause);
    btnPause->setFixedWidth(80);
    lblDuration = new QLabel(this);
    lblDuration->setWordWrap(false);
    tbDuration = new QSlider(Qt::Horizontal, this);
    tbDuration->setFixedHeight(19);
    tbDuration->setRange(0, 0);
    // Arrow keys and clicks beside the thumb step as before: 1 s and 10 s.
    tbDuration->setSingleStep(1000);
    tbDuration->setPageStep(10000);
    tbDuration->installEventFilter(this);
    vwVideo = new TAVView(this);
    vwVideo->setDisableInterpolation(true);
    vwVideo->setPlayer(Player);

    auto* bar = new QGridLayout;
    bar->setContentsMargins(2, 2, 2, 0);
    bar->addWidget(btnClose, 0, 0);
    bar->addWidget(btnSave, 0, 1);
    bar->addWidget(btnPause, 0, 2);
    bar->addWidget(lblDuration, 0, 3);
    bar->setColumnStretch(3, 1);
    bar->addWidget(tbDuration, 1, 0, 1, 4);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addWidget(vwVideo, 1);

    connect(btnClose, &QToolButton::clicked, this, &QDialog::accept);
    connect(btnSave, &QToolButton::clicked, this, guarded([this] { btnSaveClick(); }));
    connect(tbDuration, &QSlider::valueChanged, this,
            [this](int value) { tbDurationChange(value); });

    tmrUpdate = new QTimer(this);
    tmrUpdate->setInterval(1000);
    connect(tmrUpdate, &QTimer::timeout, this, [this] { tmrUpdateTimer(); });
    tmrUpdate->start();
    // Qt has no idle-time action updates: the caption follows the player on a short timer.
    auto* updater = new QTimer(this);
    connect(updater, &QTimer::timeout, this, [this] { actPauseUpdate(); });
    updater->start(100);
}

TFormVideo::~TFormVideo() = default;

void TFormVideo::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    // Opening blocks; let the window paint first, then open from the event loop.
    QTimer::singleShot(0, this, guarded([this] { FormShow(); }));
}

void TFormVideo::FormShow()
{
    if (!QFileInfo(FFile.srcFile).isFile())
        return;
    if (QFileInfo(FFile.srcFile).suffix().toLower() == QLatin1String("pcm")) {
        Player->setInputFormat(QStringLiteral("s16le"));
        Player->setOptions(Player->Options()
                           << QStringLiteral("ar=11780") << QStringLiteral("ac=2"));
    }
    Player->OpenMovie(FFile.srcFile, false, true);
    tbDuration->setMaximum(barValue(Player->Duration()));
}

void TFormVideo::tmrUpdateTimer()
{
    const double position = Player->Position();
    const double duration = Player->Duration();
    tbDuration->setValue(barValue(position));
    // A duration of 0 is unknown (a stream without one): the position stands alone.
    if (duration > 0)
        lblDuration->setText(
            tr("Position:%1/Duration:%2")
                .arg(FormatMediaTime(false, position), FormatMediaTime(false, duration)));
    else
        lblDuration->setText(tr("Position:%1").arg(FormatMediaTime(false, position)));
}

bool TFormVideo::eventFilter(QObject* watched, QEvent* event)
{
    // A left press arms exactly one seek: the next value change, whoever makes it.
    if (watched == tbDuration && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        FUserDrag = true;
    return QDialog::eventFilter(watched, event);
}

void TFormVideo::tbDurationChange(int value)
{
    if (!FUserDrag)
        return;
    FUserDrag = false;
    Player->setPosition(value / 1000.0);
}

void TFormVideo::actPauseExecute()
{
    if (Player->Paused())
        Player->Play();
    else
        Player->Pause();
    actPauseUpdate();
}

void TFormVideo::actPauseUpdate()
{
    actPause->setText(Player->Paused() ? tr("Play") : tr("Pause"));
}

void TFormVideo::btnSaveClick()
{
    const QString folder = chooseMediaFolder(this, tr("Save Video To"));
    if (folder.isEmpty())
        return;
    saveMediaCopy(FFile.srcFile, folder, phoneFileName(FFile));
    ShowMessage(QStringLiteral("Export Video sucessfully"));
}

void ShowVideoForm(const TExportFile& file, QWidget* parent)
{
    TFormVideo form(file, parent);
    form.setWindowState(Qt::WindowMaximized);
    form.exec();
}
