#pragma once

#include "util/ExportFile.h"

#include <QDialog>
#include <QSet>

#include <vector>

class QListWidget;
class QListWidgetItem;
class QTabWidget;
class QToolBar;
class QToolButton;
class QTreeWidget;

// The camera window: photos and videos on two tabs, each with its folders on the left and the
// files of the selected folder on the right. A double click shows a photo or plays a video.
class TFormPhoto final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormPhoto)

public:
    explicit TFormPhoto(QWidget* parent = nullptr);

    // Fills both folder lists and shows the first folder of each tab. Once, before showing.
    void InitGUI();
    // Adds parentFolder to lst unless there (A to Z without case), then, unless OnlyCategory,
    // a row for entry I to view.
    void AddMedia(int I, const QString& parentFolder, QListWidget* lst, QTreeWidget* view,
                  bool OnlyCategory);

    void lstPhotoItemClick(QListWidgetItem* item);
    void lstVideosItemClick(QListWidgetItem* item);
    void lvPhotoDblClick();
    void lvVideosDblClick();

    const std::vector<TExportFile>* FPhotos = nullptr; // borrowed
    TFileResolver resolve;                             // empty: entries open as they are

    QToolBar* tlbMain = nullptr;
    QToolButton* btnClose = nullptr;
    QTabWidget* tbcMain = nullptr;
    QWidget* tabPhotos = nullptr;
    QWidget* tabVideos = nullptr;
    QListWidget* lstPhoto = nullptr;
    QListWidget* lstVideos = nullptr;
    QTreeWidget* lvPhoto = nullptr;
    QTreeWidget* lvVideos = nullptr;

private:
    void FormCreate();
    void folderClick(QListWidgetItem* item, bool photos);
    const TExportFile* selectedEntry(QTreeWidget* view) const;
    TExportFile opened(const TExportFile& file) const; // the entry with srcFile resolved

    std::vector<bool> m_isPhoto;  // the photo test of each entry, made once
    QSet<QString> m_photoFolders; // folderKey of every lstPhoto line
    QSet<QString> m_videoFolders;
};

// Shows the camera window on list, modally.
// resolve turns each entry into a file to open before it is shown or played.
void ShowPhotoForm(const std::vector<TExportFile>& list, QWidget* parent = nullptr,
                   TFileResolver resolve = {});
