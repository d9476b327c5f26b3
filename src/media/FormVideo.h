#pragma once

#include "util/ExportFile.h"

#include <QDialog>

class QAction;
class QLabel;
class QSlider;
class QTimer;
class QToolButton;
class TAVPlayer;
class TAVView;

// The playback window: plays one file at once when first shown, shows position and duration
// once a second, pauses, seeks and saves. Raw .pcm voice files play as 16-bit stereo samples.
class TFormVideo final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormVideo)

public:
    explicit TFormVideo(const TExportFile& file, QWidget* parent = nullptr);
    ~TFormVideo() override;

    // Opens and plays FFile.srcFile; throws when the player cannot open it (the window then
    // stays open, empty). A missing file opens nothing and says nothing.
    void FormShow();
    void tmrUpdateTimer();
    void tbDurationChange(int value); // value in milliseconds
    void actPauseExecute();
    void actPauseUpdate();
    void btnSaveClick();

    const TExportFile& FFile;
    bool FUserDrag = false;

    QToolButton* btnClose = nullptr;
    QToolButton* btnSave = nullptr;
    QToolButton* btnPause = nullptr;
    QLabel* lblDuration = nullptr;
    QSlider* tbDuration = nullptr; // milliseconds of the media, 0 to its duration
    TAVView* vwVideo = nullptr;
    TAVPlayer* Player = nullptr; // owned through the QObject tree
    QTimer* tmrUpdate = nullptr;
    QAction* actPause = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_shown = false;
};

// Plays file.srcFile in the playback window, modally; Save offers the name of file.dstFile.
void ShowVideoForm(const TExportFile& file, QWidget* parent = nullptr);
