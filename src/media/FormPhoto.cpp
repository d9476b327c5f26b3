#include "media/FormPhoto.h"

#include "app/Application.h"
#include "media/FormImage.h"
#include "media/FormVideo.h"
#include "media/MediaDialogs.h"
#include "media/MediaFiles.h"
#include "media/ThumbnailLoader.h"
#include "util/WorkFolder.h"

#include <QAbstractListModel>
#include <QCache>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QListView>
#include <QListWidget>
#include <QPainter>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

// The grid's rows: the photos of the selected folder, their thumbnails asked of the loader as
// the view paints them. Only recently shown thumbnails stay in memory; the rest come back from
// the loader's cache files when scrolled to again.
class TThumbnailModel final : public QAbstractListModel
{
public:
    explicit TThumbnailModel(QObject* parent) : QAbstractListModel(parent)
    {
        m_pixmaps.setMaxCost(64 * 1024); // kilobytes
    }

    void setRows(const std::vector<TExportFile>* list, std::vector<int> entries)
    {
        beginResetModel();
        m_list = list;
        m_entries = std::move(entries);
        m_pixmaps.clear();
        m_failed.clear();
        m_asked.clear();
        endResetModel();
    }
    void setLoader(TThumbnailLoader* loader, QSize side)
    {
        m_loader = loader;
        m_placeholder = QPixmap(side);
        m_placeholder.fill(Qt::transparent);
        QPainter painter(&m_placeholder);
        painter.setPen(QPen(QColor(160, 160, 160), 1, Qt::DashLine));
        painter.drawRect(m_placeholder.rect().adjusted(side.width() / 4, side.height() / 4,
                                                       -side.width() / 4, -side.height() / 4));
    }
    void thumbnailReady(int row, const QImage& image)
    {
        // Rows never painted keep only their cache file: memory follows what was on screen.
        if (!m_asked.remove(row))
            return;
        auto* pixmap = new QPixmap(QPixmap::fromImage(image));
        const int cost = std::max(1, int(qint64(image.sizeInBytes()) / 1024));
        m_pixmaps.insert(row, pixmap, cost);
        const QModelIndex at = index(row);
        emit dataChanged(at, at, {Qt::DecorationRole});
    }
    void thumbnailFailed(int row)
    {
        m_failed.insert(row);
    }
    int entryAt(int row) const
    {
        return row >= 0 && size_t(row) < m_entries.size() ? m_entries[size_t(row)] : -1;
    }

    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_entries.size());
    }
    QVariant data(const QModelIndex& at, int role) const override
    {
        const int entry = entryAt(at.row());
        if (entry < 0)
            return {};
        switch (role) {
        case Qt::DisplayRole:
        case Qt::ToolTipRole:
            return phoneFileName((*m_list)[size_t(entry)]);
        case Qt::DecorationRole:
            if (const QPixmap* pixmap = m_pixmaps.object(at.row()))
                return *pixmap;
            // Painting asks for what is on screen: those go first.
            if (m_loader && !m_failed.contains(at.row())) {
                m_asked.insert(at.row());
                m_loader->want(at.row());
            }
            return m_placeholder;
        case Qt::UserRole:
            return entry;
        default:
            return {};
        }
    }

private:
    const std::vector<TExportFile>* m_list = nullptr;
    std::vector<int> m_entries;
    TThumbnailLoader* m_loader = nullptr;
    QPixmap m_placeholder;
    mutable QCache<int, QPixmap> m_pixmaps;
    QSet<int> m_failed;
    mutable QSet<int> m_asked; // painted without a thumbnail: store it when it comes
};

namespace {

constexpr int kEntryRole = Qt::UserRole; // a row's index in FPhotos
constexpr int kThumbnailSide = 160;

QWidget* makeTab(QWidget* parent, QListWidget*& lst, QTreeWidget*& view, const char* lstName,
                 const char* viewName)
{
    auto* tab = new QWidget(parent);
    auto* layout = new QHBoxLayout(tab);
    layout->setContentsMargins(0, 0, 0, 0);
    lst = new QListWidget(tab);
    lst->setObjectName(QLatin1String(lstName));
    lst->setFixedWidth(200);
    view = new QTreeWidget(tab);
    view->setObjectName(QLatin1String(viewName));
    view->setColumnCount(1);
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setAllColumnsShowFocus(true);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->header()->setSectionsMovable(true);
    view->header()->setSectionResizeMode(QHeaderView::Interactive);
    view->header()->setStretchLastSection(false);
    view->setColumnWidth(0, 329);
    view->setStyleSheet(QStringLiteral("QTreeView::item { border-bottom: 1px solid palette(mid); "
                                       "border-right: 1px solid palette(mid); }"));
    layout->addWidget(lst);
    layout->addWidget(view, 1);
    return tab;
}

} // namespace

TFormPhoto::TFormPhoto(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormPhoto"));
    setWindowTitle(tr("Camera"));
    resize(640, 480);
    QVBoxLayout* layout = addToolbarColumn(this, tlbMain);
    btnClose = addToolButton(tlbMain, "btnClose", tr("Close"));
    btnThumbnails = addToolButton(tlbMain, "btnThumbnails", tr("Thumbnails"));
    btnThumbnails->setCheckable(true);
    tbcMain = new QTabWidget(this);
    tabPhotos = makeTab(tbcMain, lstPhoto, lvPhoto, "lstPhoto", "lvPhoto");
    {
        // The names and the grid share the place right of the folders.
        auto* layout = static_cast<QHBoxLayout*>(tabPhotos->layout());
        stkPhoto = new QStackedWidget(tabPhotos);
        layout->replaceWidget(lvPhoto, stkPhoto);
        stkPhoto->addWidget(lvPhoto);
        lvThumbs = new QListView(stkPhoto);
        lvThumbs->setObjectName(QStringLiteral("lvThumbs"));
        lvThumbs->setViewMode(QListView::IconMode);
        lvThumbs->setMovement(QListView::Static);
        lvThumbs->setResizeMode(QListView::Adjust);
        lvThumbs->setUniformItemSizes(true);
        lvThumbs->setIconSize(QSize(kThumbnailSide, kThumbnailSide));
        lvThumbs->setGridSize(QSize(kThumbnailSide + 24, kThumbnailSide + 36));
        lvThumbs->setTextElideMode(Qt::ElideMiddle);
        lvThumbs->setSelectionMode(QAbstractItemView::SingleSelection);
        m_thumbModel = new TThumbnailModel(lvThumbs);
        stkPhoto->addWidget(lvThumbs);
    }
    tabVideos = makeTab(tbcMain, lstVideos, lvVideos, "lstVideos", "lvVideos");
    tbcMain->addTab(tabPhotos, tr("Photos"));
    tbcMain->addTab(tabVideos, tr("Videos"));
    lvPhoto->setColumnCount(2);
    lvPhoto->setHeaderLabels({tr("FileName"), tr("Live Photo")});
    lvVideos->setHeaderLabels({tr("FileName")});
    layout->addWidget(tbcMain, 1);

    connect(btnClose, &QToolButton::clicked, this, &QDialog::accept);
    connect(lstPhoto, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        guarded([this, item] { lstPhotoItemClick(item); })();
    });
    connect(lstVideos, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        guarded([this, item] { lstVideosItemClick(item); })();
    });
    connect(lvPhoto, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem*, int column) {
                guarded([this, column] { lvPhotoDblClick(column); })();
            });
    connect(lvThumbs, &QListView::doubleClicked, this, guarded([this] { lvThumbsDblClick(); }));
    connect(btnThumbnails, &QToolButton::toggled, this,
            [this](bool on) { guarded([this, on] { showThumbnails(on); })(); });
    connect(lvVideos, &QTreeWidget::itemDoubleClicked, this,
            guarded([this] { lvVideosDblClick(); }));
    FormCreate();
}

TFormPhoto::~TFormPhoto()
{
    // The loader's pool threads end before the folder they write into goes.
    m_loader.reset();
}

void TFormPhoto::FormCreate()
{
    tbcMain->setCurrentWidget(tabPhotos);
}

void TFormPhoto::AddMedia(int I, const QString& parentFolder, QListWidget* lst, QTreeWidget* view,
                          bool OnlyCategory)
{
    QSet<QString>& folders = lst == lstPhoto ? m_photoFolders : m_videoFolders;
    const QString key = folderKey(parentFolder);
    if (!folders.contains(key)) {
        folders.insert(key);
        lst->addItem(parentFolder);
    }
    if (OnlyCategory)
        return;
    QStringList texts{phoneFileName((*FPhotos)[size_t(I)])};
    if (view == lvPhoto) {
        const int live = liveVideoOf(I);
        if (live >= 0)
            texts.append(phoneFileName((*FPhotos)[size_t(live)]));
        m_shownPhotos.push_back(I);
    }
    auto* row = new QTreeWidgetItem(texts);
    row->setData(0, kEntryRole, I);
    view->addTopLevelItem(row);
}

void TFormPhoto::InitGUI()
{
    const std::vector<TExportFile>& list = *FPhotos;
    m_isPhoto.resize(list.size());
    for (size_t i = 0; i < list.size(); ++i)
        m_isPhoto[i] = isPhotoEntry(list[i]);
    // A Live Photo: a .MOV of the photo's base name in the photo's folder.
    m_liveVideo.assign(list.size(), -1);
    QHash<QString, int> movies; // folder key + "/" + upper-cased base name -> entry
    for (size_t i = 0; i < list.size(); ++i) {
        const QFileInfo name(phoneFileName(list[i]));
        if (!m_isPhoto[i] && name.suffix().compare(QLatin1String("MOV"), Qt::CaseInsensitive) == 0)
            movies.insert(folderKey(list[i].parentFolder) + QLatin1Char('/') +
                              name.completeBaseName().toUpper(),
                          int(i));
    }
    for (size_t i = 0; i < list.size() && !movies.isEmpty(); ++i)
        if (m_isPhoto[i])
            m_liveVideo[i] =
                movies.value(folderKey(list[i].parentFolder) + QLatin1Char('/') +
                                 QFileInfo(phoneFileName(list[i])).completeBaseName().toUpper(),
                             -1);
    for (size_t i = 0; i < list.size(); ++i) {
        if (m_isPhoto[i])
            AddMedia(int(i), list[i].parentFolder, lstPhoto, lvPhoto, true);
        else
            AddMedia(int(i), list[i].parentFolder, lstVideos, lvVideos, true);
    }
    if (lstPhoto->count() > 0) {
        lstPhoto->setCurrentRow(0);
        lstPhotoItemClick(lstPhoto->item(0));
    }
    if (lstVideos->count() > 0) {
        lstVideos->setCurrentRow(0);
        lstVideosItemClick(lstVideos->item(0));
    }
}

void TFormPhoto::folderClick(QListWidgetItem* item, bool photos)
{
    if (!item || !FPhotos)
        return;
    QListWidget* lst = photos ? lstPhoto : lstVideos;
    QTreeWidget* view = photos ? lvPhoto : lvVideos;
    const QString key = folderKey(item->text());
    view->setUpdatesEnabled(false);
    const auto endUpdate = qScopeGuard([view] { view->setUpdatesEnabled(true); });
    view->clear();
    if (photos)
        m_shownPhotos.clear();
    const std::vector<TExportFile>& list = *FPhotos;
    for (size_t i = 0; i < list.size(); ++i)
        if (m_isPhoto[i] == photos && folderKey(list[i].parentFolder) == key)
            AddMedia(int(i), list[i].parentFolder, lst, view, false);
    if (photos)
        fillThumbnails();
}

int TFormPhoto::liveVideoOf(int I) const
{
    return I >= 0 && size_t(I) < m_liveVideo.size() ? m_liveVideo[size_t(I)] : -1;
}

void TFormPhoto::fillThumbnails()
{
    if (!m_loader)
        return; // made when the grid is first shown
    std::vector<QString> files;
    files.reserve(m_shownPhotos.size());
    for (int i : m_shownPhotos)
        files.push_back((*FPhotos)[size_t(i)].srcFile);
    m_loader->setFiles(std::move(files));
    m_thumbModel->setRows(FPhotos, m_shownPhotos);
    m_loader->wantAll();
}

void TFormPhoto::showThumbnails(bool on)
{
    if (on && !m_loader && FPhotos) {
        QString folder = thumbnailFolder;
        if (folder.isEmpty()) {
            m_ownThumbnailFolder = std::make_unique<TWorkFolder>(QStringLiteral("thumbnails"));
            folder = m_ownThumbnailFolder->path();
        }
        m_loader = std::make_unique<TThumbnailLoader>(
            folder, QSize(kThumbnailSide, kThumbnailSide), resolve);
        m_thumbModel->setLoader(m_loader.get(), QSize(kThumbnailSide, kThumbnailSide));
        connect(m_loader.get(), &TThumbnailLoader::ready, m_thumbModel,
                &TThumbnailModel::thumbnailReady);
        // Queued: a failure can be reported from inside the model's own data().
        connect(m_loader.get(), &TThumbnailLoader::failed, m_thumbModel,
                [this](int row, const QString&) { m_thumbModel->thumbnailFailed(row); },
                Qt::QueuedConnection);
        lvThumbs->setModel(m_thumbModel);
        fillThumbnails();
    }
    if (btnThumbnails->isChecked() != on)
        btnThumbnails->setChecked(on);
    stkPhoto->setCurrentWidget(on ? static_cast<QWidget*>(lvThumbs) : lvPhoto);
}

void TFormPhoto::lstPhotoItemClick(QListWidgetItem* item)
{
    folderClick(item, true);
}

void TFormPhoto::lstVideosItemClick(QListWidgetItem* item)
{
    folderClick(item, false);
}

const TExportFile* TFormPhoto::selectedEntry(QTreeWidget* view) const
{
    const QList<QTreeWidgetItem*> selected = view->selectedItems();
    if (selected.isEmpty() || !FPhotos)
        return nullptr;
    const int i = selected.first()->data(0, kEntryRole).toInt();
    if (i < 0 || size_t(i) >= FPhotos->size())
        return nullptr;
    return &(*FPhotos)[size_t(i)];
}

void TFormPhoto::lvPhotoDblClick(int column)
{
    const TExportFile* file = selectedEntry(lvPhoto);
    if (!file)
        return;
    const int live = column == 1 ? liveVideoOf(int(file - FPhotos->data())) : -1;
    if (live >= 0)
        ShowVideoForm(opened((*FPhotos)[size_t(live)]), this);
    else
        ShowImageForm(opened(*file), this);
}

void TFormPhoto::lvThumbsDblClick()
{
    const int entry = m_thumbModel->entryAt(lvThumbs->currentIndex().row());
    if (entry >= 0)
        ShowImageForm(opened((*FPhotos)[size_t(entry)]), this);
}

void TFormPhoto::lvVideosDblClick()
{
    if (const TExportFile* file = selectedEntry(lvVideos))
        ShowVideoForm(opened(*file), this);
}

TExportFile TFormPhoto::opened(const TExportFile& file) const
{
    TExportFile copy = file;
    if (resolve)
        copy.srcFile = resolve(file.srcFile);
    return copy;
}

void ShowPhotoForm(const std::vector<TExportFile>& list, QWidget* parent, TFileResolver resolve,
                   const QString& thumbnailFolder)
{
    TFormPhoto form(parent);
    form.FPhotos = &list;
    form.resolve = std::move(resolve);
    form.thumbnailFolder = thumbnailFolder;
    form.InitGUI();
    form.exec();
}
