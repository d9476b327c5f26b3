#pragma once

#include "util/ExportFile.h"

#include <QDialog>

#include <QImage>
#include <QPixmap>
#include <memory>

class QToolBar;
class TWorkFolder;
class QToolButton;

// Shows one picture scaled to fit, keeping its proportions, centred. The scaled pixmap is
// made once per size, so repaints of a large photo stay cheap.
class TImageView final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TImageView)

public:
    explicit TImageView(QWidget* parent = nullptr);

    void setImage(QImage image);
    const QImage& image() const { return m_image; }
    // Where the picture is drawn in the current size.
    QRect pictureRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage m_image;
    QPixmap m_scaled; // m_image at pictureRect().size(), made on demand
};

// The image window: one picture, maximized, with Close and Save.
class TFormImage final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormImage)

public:
    explicit TFormImage(QWidget* parent = nullptr);
    ~TFormImage() override;

    // Copies the picture to the temporary folder under the phone's file name and decodes it
    // from there. Throws when the copy or the decoding fails.
    void loadFile(const TExportFile& file);
    // Saves the stored file (not the temporary copy) into a folder the user chooses.
    void btnSaveClick();
    // Saves the picture, at full size and turned upright, as a JPEG file named like the
    // phone's file with the extension .JPG, into a folder the user chooses.
    void btnSaveJpegClick();
    // The size pictures are decoded at: the screen's, in device pixels.
    QSize displaySize() const;

    const TExportFile* FFile = nullptr; // borrowed
    QString tempCopy() const { return m_tempCopy; }

    QToolBar* tlbMain = nullptr;
    QToolButton* btnClose = nullptr;
    QToolButton* btnSave = nullptr;
    QToolButton* btnSaveJpeg = nullptr; // shown for pictures that are not JPEG files
    TImageView* imgPhoto = nullptr;

private:
    QString m_tempCopy;
    std::unique_ptr<TWorkFolder> m_work; // the copy's private folder, removed with the window
};

// The name a JPEG copy of the phone's file name is saved under: IMG_1.HEIC gives IMG_1.JPG.
QString jpegCopyName(const QString& phoneName);

// Shows file's picture modally. A failure to copy or decode ends the call before any window.
void ShowImageForm(const TExportFile& file, QWidget* parent = nullptr);
