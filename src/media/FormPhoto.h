#pragma once

#include "util/ExportFile.h"

#include <QDialog>
#include <QSet>

#include <memory>
#include <vector>

class QListView;
class QListWidget;
class QStackedWidget;
class TThumbnailLoader;
class TThumbnailModel;
class TWorkFolder;
class QListWidgetItem;
class QTabWidget;
class QToolBar;
class QToolButton;
class QTreeWidget;

// The camera window: photos and videos on two tabs, each with its folders on the left and the
// files of the selected folder on the right. A double click shows a photo or plays a video.
// The photos show as a list of names or, switched by btnThumbnails, as a grid of thumbnails
// made on pool threads. A Live Photo's video (IMG_1.MOV beside IMG_1.HEIC) is named in the
// photo's row and plays on a double click there; it stays on the Videos tab too.
class TFormPhoto final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormPhoto)

public:
    explicit TFormPhoto(QWidget* parent = nullptr);
    ~TFormPhoto() override;

    // Fills both folder lists and shows the first folder of each tab. Once, before showing.
    void InitGUI();
    // Adds parentFolder to lst unless there (A to Z without case), then, unless OnlyCategory,
    // a row for entry I to view.
    void AddMedia(int I, const QString& parentFolder, QListWidget* lst, QTreeWidget* view,
                  bool OnlyCategory);

    void lstPhotoItemClick(QListWidgetItem* item);
    void lstVideosItemClick(QListWidgetItem* item);
    // column 1 of a Live Photo's row plays its video.
    void lvPhotoDblClick(int column = 0);
    void lvVideosDblClick();
    void lvThumbsDblClick();
    // Shows the photos as thumbnails (true) or as the list of names.
    void showThumbnails(bool on);
    // Index into FPhotos of the Live Photo video of photo entry I, or -1.
    int liveVideoOf(int I) const;
    TThumbnailLoader* thumbnailLoader() const { return m_loader.get(); }

    const std::vector<TExportFile>* FPhotos = nullptr; // borrowed
    TFileResolver resolve;                             // empty: entries open as they are
    QString thumbnailFolder; // where thumbnails are kept; empty: a private folder of the window

    QToolBar* tlbMain = nullptr;
    QToolButton* btnClose = nullptr;
    QToolButton* btnThumbnails = nullptr; // checkable
    QTabWidget* tbcMain = nullptr;
    QWidget* tabPhotos = nullptr;
    QWidget* tabVideos = nullptr;
    QListWidget* lstPhoto = nullptr;
    QListWidget* lstVideos = nullptr;
    QTreeWidget* lvPhoto = nullptr;
    QTreeWidget* lvVideos = nullptr;
    QStackedWidget* stkPhoto = nullptr; // lvPhoto or lvThumbs
    QListView* lvThumbs = nullptr;

private:
    void FormCreate();
    void folderClick(QListWidgetItem* item, bool photos);
    const TExportFile* selectedEntry(QTreeWidget* view) const;
    TExportFile opened(const TExportFile& file) const; // the entry with srcFile resolved

    void fillThumbnails();

    std::vector<bool> m_isPhoto;  // the photo test of each entry, made once
    std::vector<int> m_liveVideo; // per entry: its Live Photo video's index, or -1
    std::vector<int> m_shownPhotos; // entries of lvPhoto's rows, in order
    TThumbnailModel* m_thumbModel = nullptr;
    std::unique_ptr<TWorkFolder> m_ownThumbnailFolder;
    std::unique_ptr<TThumbnailLoader> m_loader;
    QSet<QString> m_photoFolders; // folderKey of every lstPhoto line
    QSet<QString> m_videoFolders;
};

// Shows the camera window on list, modally.
// resolve turns each entry into a file to open before it is shown or played; thumbnails are
// kept in thumbnailFolder (empty: a private folder removed with the window).
void ShowPhotoForm(const std::vector<TExportFile>& list, QWidget* parent = nullptr,
                   TFileResolver resolve = {}, const QString& thumbnailFolder = {});
