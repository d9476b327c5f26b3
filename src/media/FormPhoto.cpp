#include "media/FormPhoto.h"

#include "app/Application.h"
#include "media/FormImage.h"
#include "media/FormVideo.h"
#include "media/MediaDialogs.h"
#include "media/MediaFiles.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QListWidget>
#include <QScopeGuard>
#include <QTabWidget>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kEntryRole = Qt::UserRole; // a row's index in FPhotos

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
    tbcMain = new QTabWidget(this);
    tabPhotos = makeTab(tbcMain, lstPhoto, lvPhoto, "lstPhoto", "lvPhoto");
    tabVideos = makeTab(tbcMain, lstVideos, lvVideos, "lstVideos", "lvVideos");
    tbcMain->addTab(tabPhotos, tr("Photos"));
    tbcMain->addTab(tabVideos, tr("Videos"));
    lvPhoto->setHeaderLabels({tr("FileName")});
    lvVideos->setHeaderLabels({tr("FileName")});
    layout->addWidget(tbcMain, 1);

    connect(btnClose, &QToolButton::clicked, this, &QDialog::accept);
    connect(lstPhoto, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        guarded([this, item] { lstPhotoItemClick(item); })();
    });
    connect(lstVideos, &QListWidget::itemClicked, this, [this](QListWidgetItem* item) {
        guarded([this, item] { lstVideosItemClick(item); })();
    });
    connect(lvPhoto, &QTreeWidget::itemDoubleClicked, this, guarded([this] { lvPhotoDblClick(); }));
    connect(lvVideos, &QTreeWidget::itemDoubleClicked, this,
            guarded([this] { lvVideosDblClick(); }));
    FormCreate();
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
    auto* row = new QTreeWidgetItem(QStringList{phoneFileName((*FPhotos)[size_t(I)])});
    row->setData(0, kEntryRole, I);
    view->addTopLevelItem(row);
}

void TFormPhoto::InitGUI()
{
    const std::vector<TExportFile>& list = *FPhotos;
    m_isPhoto.resize(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        m_isPhoto[i] = isPhotoEntry(list[i]);
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
    const std::vector<TExportFile>& list = *FPhotos;
    for (size_t i = 0; i < list.size(); ++i)
        if (m_isPhoto[i] == photos && folderKey(list[i].parentFolder) == key)
            AddMedia(int(i), list[i].parentFolder, lst, view, false);
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

void TFormPhoto::lvPhotoDblClick()
{
    if (const TExportFile* file = selectedEntry(lvPhoto))
        ShowImageForm(opened(*file), this);
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

void ShowPhotoForm(const std::vector<TExportFile>& list, QWidget* parent, TFileResolver resolve)
{
    TFormPhoto form(parent);
    form.FPhotos = &list;
    form.resolve = std::move(resolve);
    form.InitGUI();
    form.exec();
}
