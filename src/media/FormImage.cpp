#include "media/FormImage.h"

#include "util/FileCopy.h"
#include "util/WorkFolder.h"

#include "app/Application.h"
#include "media/MediaDialogs.h"
#include "media/MediaFiles.h"
#include "media/PictureReader.h"
#include "util/Error.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QScreen>
#include <QToolBar>
#include <QToolButton>
#include <QScopeGuard>
#include <QVBoxLayout>

#include <thread>

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
    btnSaveJpeg = addToolButton(tlbMain, "btnSaveJpeg", tr("Save as JPEG"));
    imgPhoto = new TImageView(this);
    layout->addWidget(imgPhoto, 1);
    connect(btnClose, &QToolButton::clicked, this, &QDialog::accept);
    connect(btnSave, &QToolButton::clicked, this, guarded([this] { btnSaveClick(); }));
    connect(btnSaveJpeg, &QToolButton::clicked, this, guarded([this] { btnSaveJpegClick(); }));
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
    // Decoded at the screen's size: a 48-megapixel photo would not fit Qt's image limits, and
    // the window never shows more pixels than the screen has. Saving reads the full size.
    QString error;
    QImage image = readPicture(target, displaySize(), &error);
    if (image.isNull())
        throw Error(QStringLiteral("cannot show %1: %2").arg(target, error));
    {
        QFile head(target);
        const bool jpeg = head.open(QIODevice::ReadOnly) && head.read(3) == "\xff\xd8\xff";
        btnSaveJpeg->setVisible(!jpeg);
    }
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

QSize TFormImage::displaySize() const
{
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shown)
        return {1920, 1080};
    return (QSizeF(shown->size()) * shown->devicePixelRatio()).toSize();
}

QString jpegCopyName(const QString& phoneName)
{
    const QFileInfo info(phoneName);
    const QString base = info.completeBaseName().isEmpty() ? QStringLiteral("image")
                                                           : info.completeBaseName();
    const bool lower = !info.suffix().isEmpty() && info.suffix() == info.suffix().toLower();
    return base + (lower ? QStringLiteral(".jpg") : QStringLiteral(".JPG"));
}

void TFormImage::btnSaveJpegClick()
{
    if (!FFile)
        return;
    const QString folder = chooseMediaFolder(this, tr("Save Image To"));
    if (folder.isEmpty())
        return;
    const QString target = QDir(folder).filePath(jpegCopyName(phoneFileName(*FFile)));
    // A full-size decode and encode takes a second or two for the largest photos: off the
    // GUI thread, with the window's buttons off meanwhile.
    bool ok = false;
    QString error;
    tlbMain->setEnabled(false);
    const auto enable = qScopeGuard([this] { tlbMain->setEnabled(true); });
    QEventLoop wait;
    std::thread worker([&] {
        ok = writeJpegCopy(FFile->srcFile, target, &error);
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    wait.exec(QEventLoop::ExcludeUserInputEvents);
    worker.join();
    if (!ok)
        throw Error(QStringLiteral("cannot save %1: %2").arg(target, error));
    ShowMessage(QStringLiteral("Export Image successfully"));
}

void ShowImageForm(const TExportFile& file, QWidget* parent)
{
    TFormImage form(parent);
    form.loadFile(file);
    form.setWindowState(Qt::WindowMaximized);
    form.exec();
}
