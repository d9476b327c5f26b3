#include "media/FormImage.h"

#include "util/FileCopy.h"
#include "util/WorkFolder.h"

#include "app/Application.h"
#include "media/MediaDialogs.h"
#include "media/MediaFiles.h"
#include "util/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

TImageView::TImageView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("imgPhoto"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TImageView::setImage(QImage image)
{
    m_image = std::move(image);
    m_scaled = QPixmap();
    update();
}

QRect TImageView::pictureRect() const
{
    if (m_image.isNull() || width() <= 0 || height() <= 0)
        return {};
    const QSize size = m_image.size().scaled(this->size(), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void TImageView::paintEvent(QPaintEvent*)
{
    const QRect target = pictureRect();
    if (target.isEmpty())
        return;
    if (m_scaled.size() != target.size())
        m_scaled = QPixmap::fromImage(
            m_image.scaled(target.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    QPainter(this).drawPixmap(target.topLeft(), m_scaled);
}

void TImageView::resizeEvent(QResizeEvent*)
{
    m_scaled = QPixmap();
}

TFormImage::TFormImage(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormImage"));
    setWindowTitle(tr("Image"));
    QVBoxLayout* layout = addToolbarColumn(this, tlbMain);
    btnClose = addToolButton(tlbMain, "btnClose", tr("Close"));
    btnSave = addToolButton(tlbMain, "btnSave", tr("Save"));
    imgPhoto = new TImageView(this);
    layout->addWidget(imgPhoto, 1);
    connect(btnClose, &QToolButton::clicked, this, &QDialog::accept);
    connect(btnSave, &QToolButton::clicked, this, guarded([this] { btnSaveClick(); }));
}

TFormImage::~TFormImage() = default;

void TFormImage::loadFile(const TExportFile& file)
{
    FFile = &file;
    // A fresh private folder per picture: no name in it can have been planted by anyone.
    m_work = std::make_unique<TWorkFolder>(QStringLiteral("image"));
    QString name = phoneFileName(file);
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        name = QStringLiteral("image");
    const QString target = m_work->filePath(name);
    {
        QFile source(file.srcFile);
        if (!source.open(QIODevice::ReadOnly))
            throw Error(QStringLiteral("cannot copy %1 to %2: %3")
                            .arg(file.srcFile, target, source.errorString()));
        QFile copy;
        createPrivateFile(copy, target);
        copyContent(source, copy, file.srcFile);
    }
    m_tempCopy = target;
    QImageReader reader(target);
    QImage image = reader.read();
    if (image.isNull())
        throw Error(QStringLiteral("cannot show %1: %2").arg(target, reader.errorString()));
    imgPhoto->setImage(std::move(image));
    setWindowTitle(QFileInfo(target).fileName());
}

void TFormImage::btnSaveClick()
{
    if (!FFile)
        return;
    const QString folder = chooseMediaFolder(this, tr("Save Image To"));
    if (folder.isEmpty())
        return;
    saveMediaCopy(FFile->srcFile, folder, phoneFileName(*FFile));
    ShowMessage(QStringLiteral("Export Image successfully"));
}

void ShowImageForm(const TExportFile& file, QWidget* parent)
{
    TFormImage form(parent);
    form.loadFile(file);
    form.setWindowState(Qt::WindowMaximized);
    form.exec();
}
