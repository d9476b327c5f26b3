#pragma once

#include "util/ExportFile.h"

#include <QDialog>
#include <QStringList>

#include <vector>

class QListWidget;
class QToolBar;
class QToolButton;

// The voice recordings: one line per recording, by file name; a double click plays it.
class TFormRecording final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormRecording)

public:
    explicit TFormRecording(QWidget* parent = nullptr);

    // Fills the list; line n is entry n. Once, before showing.
    void initGUI();
    void lstRecordingDblClick();

    const std::vector<TExportFile>* FRecordings = nullptr; // borrowed
    QStringList FCaptions; // line n's text when given for every entry, else the file names
    TFileResolver resolve;                                 // empty: entries open as they are

    QToolBar* tlbMain = nullptr;
    QToolButton* btnClose = nullptr;
    QListWidget* lstRecording = nullptr;
};

// Shows the recordings window on list, modally.
// resolve turns each entry into a file to open before it is shown or played; captions, when
// there is one per entry, are the lines shown (a voice memo's title and date).
void ShowRecordingForm(const std::vector<TExportFile>& list, QWidget* parent = nullptr,
                       TFileResolver resolve = {}, const QStringList& captions = {});
