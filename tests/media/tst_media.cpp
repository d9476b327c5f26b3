#include "MediaData.h"
#include "SampleBackup.h"
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "media/FormImage.h"
#include "util/WorkFolder.h"
#include "media/FormPhoto.h"
#include "media/FormRecording.h"
#include "media/MediaDialogs.h"
#include "media/MediaFiles.h"
#include "util/Error.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <memory>

// The camera roll, the image window and the voice recordings, collected from a generated
// backup through the real main window.
class TestMedia : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void collection_data();
    void collection();
    void foldersOnBothTabs();
    void doubleClickShowsTemporaryCopy();
    void saveReplacesExistingFile();
    void missingPictureFailsBeforeWindow();
    void scaling_data();
    void scaling();
    void recordingsWindow();
    void demoBackup();

private:
    std::unique_ptr<TFormMain> loadBackup(const QString& folder);
    std::vector<TExportFile> camera(TFormMain& form, const QString& exportPath);
    std::vector<TExportFile> recordings(TFormMain& form, const QString& exportPath);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TdmGlobal> m_dm;
    std::unique_ptr<TFormMain> m_form; // the rules backup, loaded once
    QStringList m_messages;
    QStringList m_errors;
};

namespace {

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QModelIndexList childNodes(const TFormMain& form, const QModelIndex& node)
{
    return node.isValid() ? form.childNodes(node) : QModelIndexList();
}

QStringList texts(const QListWidget* lst)
{
    QStringList out;
    for (int i = 0; i < lst->count(); ++i)
        out << lst->item(i)->text();
    return out;
}

QStringList texts(const QTreeWidget* view)
{
    QStringList out;
    for (int i = 0; i < view->topLevelItemCount(); ++i)
        out << view->topLevelItem(i)->text(0);
    return out;
}

const TExportFile* byName(const std::vector<TExportFile>& list, const QString& name)
{
    for (const TExportFile& f : list)
        if (phoneFileName(f) == name)
            return &f;
    return nullptr;
}

const QString kCam = QStringLiteral("CameraRollDomain");
const QString kMedia = QStringLiteral("MediaDomain");

} // namespace

void TestMedia::initTestCase()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("XDG_DATA_HOME", m_dir->filePath("data").toUtf8());
    m_dm = std::make_unique<TdmGlobal>();
    setMessageSink([this](const QString& text, bool isError) {
        (isError ? m_errors : m_messages).append(text);
    });

    SampleBackup b;
    const QString a = "Media/DCIM/100APPLE/";
    const QString c = "Media/DCIM/101APPLE/";
    b.addFile(kCam, a + "IMG_0001.JPG", media::picture(64, 48, "JPEG", "1"));
    b.addFile(kCam, a + "IMG_0002.png", media::picture(48, 64, "PNG", "2"));
    b.addFile(kCam, a + "IMG_0003.MOV", "mov");
    b.addFile(kCam, a + "IMG_0004.HEIC", "heic");
    b.addFile(kCam, a + "IMG_0005.JPEG", "jpeg");
    b.addFile(kCam, c + "IMG_0006.mp4", "mp4");
    b.addMissingFile(kCam, c + "IMG_0007.JPG");
    b.addFile(kCam, c + "Sub/IMG_0008.jpg", media::picture(30, 30, "JPEG", "8"));
    b.addFile(kCam, c + "IMG_0001.JPG", media::picture(32, 24, "JPEG", "1b"));
    b.addFile(kMedia, "Media/Recordings/AssetManifest.plist", "<plist/>");
    b.addFile(kMedia, "Media/Recordings/a.m4a", "a");
    b.addFile(kMedia, "Media/Recordings/b.M4A", "b");
    b.addFile(kMedia, "Media/Recordings/c.m4a.tmp", "c");
    b.addMissingFile(kMedia, "Media/Recordings/d.m4a");
    b.addFile(kMedia, "Media/Recordings/Old/a.m4a", "a2");
    const QString folder = m_dir->filePath("rules");
    b.write(folder);
    m_form = loadBackup(folder);
    QVERIFY(m_form);
}

void TestMedia::init()
{
    m_messages.clear();
    m_errors.clear();
    setMediaFolderChooser({});
}

void TestMedia::cleanupTestCase()
{
    setMediaFolderChooser({});
    m_form.reset();
    setMessageSink({});
    m_dm.reset();
    m_dir.reset();
}

std::unique_ptr<TFormMain> TestMedia::loadBackup(const QString& folder)
{
    auto form = std::make_unique<TFormMain>(*m_dm);
    form->show();
    form->chooseBackupFile = [folder] { return QDir(folder).filePath("Info.plist"); };
    form->btnBrowse->click();
    form->actNext->trigger();
    if (!m_errors.isEmpty() || form->tbcMain->currentWidget() != form->tabMain) {
        qWarning() << m_errors;
        return nullptr;
    }
    return form;
}

std::vector<TExportFile> TestMedia::camera(TFormMain& form, const QString& exportPath)
{
    form.FExportPath = exportPath;
    std::vector<TExportFile> list;
    const QModelIndex mediaNode = TFormMain::FindNode(form.childNodes(), "Media");
    const QModelIndex dcim = TFormMain::FindNode(childNodes(form, mediaNode), "DCIM");
    if (dcim.isValid())
        form.CollectMedia(childNodes(form, dcim), list);
    return list;
}

std::vector<TExportFile> TestMedia::recordings(TFormMain& form, const QString& exportPath)
{
    form.FExportPath = exportPath;
    std::vector<TExportFile> list;
    const QModelIndex mediaNode = TFormMain::FindNode(form.childNodes(), "Media");
    const QModelIndex folder = TFormMain::FindNode(childNodes(form, mediaNode), "Recordings");
    if (folder.isValid())
        form.CollectRecordings(childNodes(form, folder), list);
    return list;
}

// One row per file of the rules backup: where it shows, if anywhere.
void TestMedia::collection_data()
{
    QTest::addColumn<QString>("exportPath");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("shownOn"); // photos, videos, recordings or none

    const QString none;
    QTest::newRow("JPG") << none << "IMG_0001.JPG" << "100APPLE" << "photos";
    QTest::newRow("png lower case") << none << "IMG_0002.png" << "100APPLE" << "photos";
    QTest::newRow("jpg lower case, deeper") << none << "IMG_0008.jpg" << "Sub" << "photos";
    QTest::newRow("MOV") << none << "IMG_0003.MOV" << "100APPLE" << "videos";
    QTest::newRow("mp4 lower case") << none << "IMG_0006.mp4" << "101APPLE" << "videos";
    QTest::newRow("HEIC") << none << "IMG_0004.HEIC" << "100APPLE" << "photos";
    QTest::newRow("JPEG") << none << "IMG_0005.JPEG" << "" << "none";
    QTest::newRow("JPG without stored copy") << none << "IMG_0007.JPG" << "" << "none";
    QTest::newRow("export folder .PNG makes a video a photo")
        << "/home/u/Shots.PNG/" << "IMG_0003.MOV" << "100APPLE" << "photos";
    QTest::newRow("export folder .PNG, mp4") << "/home/u/Shots.PNG/" << "IMG_0006.mp4"
                                             << "101APPLE" << "photos";
    QTest::newRow("export folder, plain") << "/home/u/Shots/" << "IMG_0003.MOV" << "100APPLE"
                                          << "videos";
    QTest::newRow("m4a") << none << "c.m4a.tmp" << "Recordings" << "recordings";
    QTest::newRow("M4A") << none << "b.M4A" << "" << "none";
    QTest::newRow("m4a without stored copy") << none << "d.m4a" << "" << "none";
    QTest::newRow("m4a, export folder .PNG") << "/x.PNG/" << "c.m4a.tmp" << "Recordings"
                                             << "recordings";
}

void TestMedia::collection()
{
    QFETCH(QString, exportPath);
    QFETCH(QString, name);
    QFETCH(QString, folder);
    QFETCH(QString, shownOn);
    QVERIFY(m_form);

    const std::vector<TExportFile> cam = camera(*m_form, exportPath);
    const std::vector<TExportFile> rec = recordings(*m_form, exportPath);
    const TExportFile* inCamera = byName(cam, name);
    const TExportFile* inRecordings = byName(rec, name);
    QCOMPARE(inRecordings != nullptr, shownOn == "recordings");
    QCOMPARE(inCamera != nullptr, shownOn == "photos" || shownOn == "videos");
    const TExportFile* entry = inCamera ? inCamera : inRecordings;
    if (!entry)
        return;
    QCOMPARE(entry->parentFolder, folder);
    QVERIFY(QFileInfo(entry->srcFile).isFile());
    QVERIFY(entry->srcFile.startsWith(m_dir->filePath("rules")));
    QVERIFY2(entry->dstFile.startsWith(exportPath + "Media/"), qPrintable(entry->dstFile));
    if (!inCamera)
        return;

    // The camera window lists it under its folder on its own tab only.
    TFormPhoto form;
    form.FPhotos = &cam;
    form.InitGUI();
    const bool photo = shownOn == "photos";
    QListWidget* lst = photo ? form.lstPhoto : form.lstVideos;
    QListWidget* other = photo ? form.lstVideos : form.lstPhoto;
    const QList<QListWidgetItem*> hits = lst->findItems(folder, Qt::MatchExactly);
    QCOMPARE(hits.size(), 1);
    form.lstPhotoItemClick(photo ? hits.first() : nullptr);
    form.lstVideosItemClick(photo ? nullptr : hits.first());
    QVERIFY2(texts(photo ? form.lvPhoto : form.lvVideos).contains(name),
             qPrintable(texts(photo ? form.lvPhoto : form.lvVideos).join(',')));
    for (int i = 0; i < other->count(); ++i) {
        (photo ? form.lstVideosItemClick(other->item(i)) : form.lstPhotoItemClick(other->item(i)));
        QVERIFY(!texts(photo ? form.lvVideos : form.lvPhoto).contains(name));
    }
}

void TestMedia::foldersOnBothTabs()
{
    QVERIFY(m_form);
    const std::vector<TExportFile> cam = camera(*m_form, QString());
    QStringList names;
    for (const TExportFile& f : cam)
        names << phoneFileName(f);
    // Depth first, in catalog order.
    QCOMPARE(names, QStringList({"IMG_0001.JPG", "IMG_0002.png", "IMG_0003.MOV", "IMG_0004.HEIC",
                                 "IMG_0006.mp4", "IMG_0008.jpg", "IMG_0001.JPG"}));

    TFormPhoto form;
    form.FPhotos = &cam;
    form.InitGUI();
    QCOMPARE(form.tbcMain->currentWidget(), form.tabPhotos);
    QCOMPARE(texts(form.lstPhoto), QStringList({"100APPLE", "Sub", "101APPLE"}));
    QCOMPARE(texts(form.lstVideos), QStringList({"100APPLE", "101APPLE"}));
    // The first folder of each tab is shown at once.
    QCOMPARE(form.lstPhoto->currentRow(), 0);
    QCOMPARE(texts(form.lvPhoto), QStringList({"IMG_0001.JPG", "IMG_0002.png", "IMG_0004.HEIC"}));
    QCOMPARE(texts(form.lvVideos), QStringList({"IMG_0003.MOV"}));
    form.lstPhotoItemClick(form.lstPhoto->item(2));
    QCOMPARE(texts(form.lvPhoto), QStringList({"IMG_0001.JPG"}));
    QCOMPARE(form.lvPhoto->topLevelItem(0)->data(0, Qt::UserRole).toInt(), 6);

    // Folder names compare without regard to the case of A to Z.
    std::vector<TExportFile> mixed = {{"/s/1", "/e/a/1.JPG", "Roll"}, {"/s/2", "/e/b/2.JPG", "ROLL"},
                                      {"/s/3", "/e/c/3.JPG", "Ärger"}, {"/s/4", "/e/d/4.JPG", "ärger"}};
    TFormPhoto second;
    second.FPhotos = &mixed;
    second.InitGUI();
    QCOMPARE(texts(second.lstPhoto), QStringList({"Roll", "Ärger", "ärger"}));
    QCOMPARE(texts(second.lvPhoto), QStringList({"1.JPG", "2.JPG"}));

    // Nothing collected: both tabs empty, nothing selected.
    const std::vector<TExportFile> empty;
    TFormPhoto third;
    third.FPhotos = &empty;
    third.InitGUI();
    QCOMPARE(third.lstPhoto->count() + third.lstVideos->count() + third.lvPhoto->topLevelItemCount(), 0);
    third.lvPhotoDblClick(); // no row selected: nothing happens
}

void TestMedia::doubleClickShowsTemporaryCopy()
{
    QVERIFY(m_form);
    const std::vector<TExportFile> cam = camera(*m_form, "/elsewhere/");
    TFormPhoto form;
    form.FPhotos = &cam;
    form.InitGUI();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // A file planted under the picture's name in the shared temporary folder is neither
    // read nor replaced: the copy goes into a private folder of its own.
    const QString target = QDir(QDir::tempPath()).filePath("IMG_0001.JPG");
    QVERIFY(writeFile(target, "an older copy"));

    // The same name in two folders: each shows its own file, the second replacing the copy.
    for (int folderRow : {0, 2}) {
        form.lstPhotoItemClick(form.lstPhoto->item(folderRow));
        QTreeWidgetItem* row = form.lvPhoto->topLevelItem(0);
        QCOMPARE(row->text(0), QString("IMG_0001.JPG"));
        const TExportFile& entry = cam[size_t(row->data(0, Qt::UserRole).toInt())];
        form.lvPhoto->setCurrentItem(row);
        QString title;
        QByteArray copied;
        QString copyPath;
        QFile::Permissions folderMode;
        QSize shown;
        QTimer::singleShot(0, [&] {
            auto* image = qobject_cast<TFormImage*>(QApplication::activeModalWidget());
            if (!image)
                return;
            title = image->windowTitle();
            copyPath = image->tempCopy();
            copied = readFile(copyPath);
            folderMode = QFileInfo(QFileInfo(copyPath).absolutePath()).permissions();
            shown = image->imgPhoto->image().size();
            image->btnClose->click();
        });
        const QRect rect = form.lvPhoto->visualItemRect(row);
        // A double click as the window system delivers it: a click, then the double click.
        QTest::mouseClick(form.lvPhoto->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(form.lvPhoto->viewport(), Qt::LeftButton, {}, rect.center());
        QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
        QCOMPARE(title, QString("IMG_0001.JPG"));
        QCOMPARE(copied, readFile(entry.srcFile));
        QVERIFY(TWorkFolder::contains(copyPath));
        QCOMPARE(folderMode, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                 QFile::ReadUser | QFile::WriteUser | QFile::ExeUser);
        QVERIFY(!QFileInfo::exists(copyPath)); // gone with the window
        QCOMPARE(readFile(target), QByteArray("an older copy"));
        QCOMPARE(shown, folderRow == 0 ? QSize(64, 48) : QSize(32, 24));
    }
    QFile::remove(target);
}

void TestMedia::saveReplacesExistingFile()
{
    QVERIFY(m_form);
    const std::vector<TExportFile> cam = camera(*m_form, QString());
    const TExportFile* entry = byName(cam, "IMG_0002.png");
    QVERIFY(entry);
    TFormImage form;
    form.loadFile(*entry);
    QTemporaryDir out;
    QVERIFY(writeFile(out.filePath("IMG_0002.png"), "old file"));
    // The stored copy is saved, not the temporary one, even when that has changed.
    QVERIFY(writeFile(form.tempCopy(), "changed"));

    QString title;
    setMediaFolderChooser([&](QWidget*, const QString& t) {
        title = t;
        return QString();
    });
    form.btnSave->click();
    QCOMPARE(title, QString("Save Image To"));
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(readFile(out.filePath("IMG_0002.png")), QByteArray("old file"));

    setMediaFolderChooser([&](QWidget*, const QString&) { return out.path(); });
    form.btnSave->click();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QCOMPARE(m_messages, QStringList({"Export Image successfully"}));
    QCOMPARE(readFile(out.filePath("IMG_0002.png")), readFile(entry->srcFile));
    QCOMPARE(QDir(out.path()).entryList(QDir::Files), QStringList({"IMG_0002.png"}));

    // A folder that is not there: the failure is shown, no success message.
    m_messages.clear();
    setMediaFolderChooser([&](QWidget*, const QString&) { return out.filePath("no/such"); });
    QVERIFY(writeFile(out.filePath("no"), "a file where a folder should be"));
    form.btnSave->click();
    QCOMPARE(m_errors.size(), 1);
    QVERIFY(m_messages.isEmpty());
}

void TestMedia::missingPictureFailsBeforeWindow()
{
    QTemporaryDir dir;
    const TExportFile gone{dir.filePath("gone.jpg"), dir.filePath("gone.jpg"), QString()};
    bool windowShown = false;
    QTimer::singleShot(0, [&] {
        if (auto* w = QApplication::activeModalWidget()) {
            windowShown = true;
            w->close();
        }
    });
    QVERIFY_THROWS_EXCEPTION(Error, ShowImageForm(gone));
    QVERIFY(writeFile(dir.filePath("bad.jpg"), "not a picture"));
    const TExportFile bad{dir.filePath("bad.jpg"), "/x/y/bad.jpg", QString()};
    QVERIFY_THROWS_EXCEPTION(Error, ShowImageForm(bad));
    QCoreApplication::processEvents();
    QVERIFY(!windowShown);
}

void TestMedia::scaling_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QSize>("view");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("wide in square") << QSize(400, 200) << QSize(200, 200) << QRect(0, 50, 200, 100);
    QTest::newRow("tall in wide") << QSize(100, 400) << QSize(300, 200) << QRect(125, 0, 50, 200);
    QTest::newRow("small is enlarged") << QSize(50, 50) << QSize(200, 100) << QRect(50, 0, 100, 100);
    QTest::newRow("exact") << QSize(120, 80) << QSize(120, 80) << QRect(0, 0, 120, 80);
}

void TestMedia::scaling()
{
    QFETCH(QSize, picture);
    QFETCH(QSize, view);
    QFETCH(QRect, expected);
    TImageView w;
    QImage image(picture, QImage::Format_RGB32);
    image.fill(Qt::red);
    w.setImage(image);
    w.resize(view);
    QCOMPARE(w.pictureRect(), expected);
    // What is painted: the picture inside the rectangle, nothing of it outside.
    w.setAutoFillBackground(true);
    QPalette pal = w.palette();
    pal.setColor(QPalette::Window, Qt::white);
    w.setPalette(pal);
    const QImage shot = w.grab().toImage();
    QCOMPARE(QColor(shot.pixel(expected.center())), QColor(Qt::red));
    if (expected.left() > 0)
        QCOMPARE(QColor(shot.pixel(expected.left() - 1, expected.center().y())), QColor(Qt::white));
    if (expected.top() > 0)
        QCOMPARE(QColor(shot.pixel(expected.center().x(), expected.top() - 1)), QColor(Qt::white));
}

void TestMedia::recordingsWindow()
{
    QVERIFY(m_form);
    const std::vector<TExportFile> rec = recordings(*m_form, QString());
    TFormRecording form;
    form.FRecordings = &rec;
    form.initGUI();
    QCOMPARE(texts(form.lstRecording), QStringList({"a.m4a", "c.m4a.tmp", "a.m4a"}));
    QCOMPARE(rec[0].parentFolder, QString("Recordings"));
    QCOMPARE(rec[2].parentFolder, QString("Old"));
    QVERIFY(readFile(rec[0].srcFile) != readFile(rec[2].srcFile));
    form.lstRecordingDblClick(); // no line selected: nothing happens
    QVERIFY(m_messages.isEmpty() && m_errors.isEmpty());
}

// The demo backup: Camera and Recording open their windows on the generated media.
void TestMedia::demoBackup()
{
    SampleBackup demo = SampleBackup::demo();
    const QString folder = m_dir->filePath("demo");
    demo.write(folder);
    auto form = loadBackup(folder);
    QVERIFY(form);
    QVERIFY(form->actCamera->isEnabled());
    QVERIFY(form->actRecording->isEnabled());

    QStringList photos, videos, folders;
    QTimer::singleShot(0, [&] {
        auto* w = qobject_cast<TFormPhoto*>(QApplication::activeModalWidget());
        if (!w)
            return;
        folders = texts(w->lstPhoto);
        for (int i = 0; i < w->lstPhoto->count(); ++i) {
            w->lstPhotoItemClick(w->lstPhoto->item(i));
            photos += texts(w->lvPhoto);
        }
        for (int i = 0; i < w->lstVideos->count(); ++i) {
            w->lstVideosItemClick(w->lstVideos->item(i));
            videos += texts(w->lvVideos);
        }
        w->btnClose->click();
    });
    form->actCamera->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    for (const char* name : {"IMG_0001.JPG", "IMG_0002.PNG", "IMG_0006.JPG", "IMG_0007.jpg"})
        QVERIFY2(photos.contains(name), name);
    videos.sort();
    QCOMPARE(videos, QStringList({"IMG_0003.MOV", "IMG_0008.MP4"}));
    QVERIFY(!photos.contains("IMG_0004.JPEG") && !photos.contains("IMG_0005.JPG"));
    QVERIFY(folders.contains("101APPLE"));

    QStringList lines;
    QTimer::singleShot(0, [&] {
        auto* w = qobject_cast<TFormRecording*>(QApplication::activeModalWidget());
        if (!w)
            return;
        lines = texts(w->lstRecording);
        w->btnClose->click();
    });
    form->actRecording->trigger();
    QCOMPARE(lines, QStringList({"20161229 102030.m4a", "20161230 081500.m4a",
                                 "20170101 090000.m4a.tmp"}));

    // Every camera photo of the demo opens as a picture.
    const std::vector<TExportFile> cam = camera(*form, QString());
    for (const TExportFile& f : cam) {
        if (!isPhotoEntry(f))
            continue;
        TFormImage image;
        image.loadFile(f);
        QVERIFY2(!image.imgPhoto->image().isNull(), qPrintable(phoneFileName(f)));
    }
}

QTEST_MAIN(TestMedia)
#include "tst_media.moc"
