#include "CurrentPhotos.h"
#include "SampleBackup.h"
#include "TestSupport.h"
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "media/FormImage.h"
#include "media/FormPhoto.h"
#include "media/FormVideo.h"
#include "media/MediaDialogs.h"
#include "media/MediaFiles.h"
#include "media/PictureReader.h"
#include "media/ThumbnailLoader.h"
#include "player/AVPlayer.h"
#include "player/TAVView.h"
#include "util/WorkFolder.h"

#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QListView>
#include <QListWidget>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <limits>
#include <memory>

// The camera roll of a current iPhone: HEIC photos (one turned by its irot), a Live Photo,
// an HEVC video, and the thumbnail grid, through the real windows.
class TestCurrentRoll : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void demoCameraWindow();
    void imageWindowSavesOriginalAndJpeg();
    void hevcVideoPlays();
    void thumbnailsDoNotBlockTheWindow();
    void thumbnailWantedAgainComesFromCache();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TdmGlobal> m_dm;
    QStringList m_errors;
    QStringList m_messages;
};

namespace {

QStringList texts(const QTreeWidget* view, int column = 0)
{
    QStringList out;
    for (int i = 0; i < view->topLevelItemCount(); ++i)
        out << view->topLevelItem(i)->text(column);
    return out;
}

bool isGreen(const QColor& c)
{
    return c.green() > 140 && c.red() < 90 && c.blue() < 90;
}

// A photo-like picture: markedPicture with grain, so it compresses like a photo does.
QImage grainyPicture(int w, int h, const QString& label)
{
    QImage image = media::markedPicture(w, h, label).convertToFormat(QImage::Format_RGB32);
    QRandomGenerator random(uint(qHash(label)));
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = int(random.bounded(24)) - 12;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                           std::clamp(qBlue(p) + n, 0, 255));
        }
    }
    return image;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

void TestCurrentRoll::initTestCase()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("XDG_DATA_HOME", m_dir->filePath("data").toUtf8());
    m_dm = std::make_unique<TdmGlobal>();
    setMessageSink([this](const QString& text, bool isError) {
        (isError ? m_errors : m_messages).append(text);
    });
}

void TestCurrentRoll::cleanupTestCase()
{
    setMessageSink({});
    m_dm.reset();
    m_dir.reset();
}

void TestCurrentRoll::demoCameraWindow()
{
    const QString folder = m_dir->filePath("demo15");
    SampleBackup::demoCurrent().write(folder);
    TFormMain form(*m_dm);
    form.show();
    form.chooseBackupFile = [folder] { return QDir(folder).filePath("Info.plist"); };
    form.btnBrowse->click();
    form.actNext->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QVERIFY(form.actCamera->isEnabled());

    QStringList photos, live, videos;
    QSize turned, upright;
    bool turnedGreenTopRight = false;
    QSize gridTurned;
    int gridFinished = -1;
    QTimer::singleShot(0, [&] {
        auto* w = qobject_cast<TFormPhoto*>(QApplication::activeModalWidget());
        if (!w)
            return;
        const QList<QListWidgetItem*> roll = w->lstPhoto->findItems("100APPLE", Qt::MatchExactly);
        if (roll.isEmpty())
            return;
        w->lstPhoto->setCurrentItem(roll.first());
        w->lstPhotoItemClick(roll.first());
        photos = texts(w->lvPhoto);
        live = texts(w->lvPhoto, 1);
        videos = texts(w->lvVideos);
        // Each photo opens in the image window, the turned one upright.
        for (const QString& name : {QStringLiteral("IMG_0101.HEIC"), QStringLiteral("IMG_0102.HEIC")}) {
            const int row = int(photos.indexOf(name));
            if (row < 0)
                continue;
            w->lvPhoto->setCurrentItem(w->lvPhoto->topLevelItem(row));
            QTimer::singleShot(0, [&, name] {
                auto* image = qobject_cast<TFormImage*>(QApplication::activeModalWidget());
                if (!image)
                    return;
                const QImage& shown = image->imgPhoto->image();
                if (name.endsWith(QLatin1String("0102.HEIC"))) {
                    turned = shown.size();
                    const int s = std::min(shown.width(), shown.height()) / 8;
                    turnedGreenTopRight = isGreen(shown.pixelColor(shown.width() - 1 - s, s));
                } else {
                    upright = shown.size();
                }
                image->btnClose->click();
            });
            w->lvPhotoDblClick();
        }
        // The grid: every photo gets its thumbnail, the turned one portrait.
        w->btnThumbnails->click();
        TThumbnailLoader* loader = w->thumbnailLoader();
        if (loader && waitUntil([loader] { return loader->isIdle(); }, 60000)) {
            gridFinished = loader->finishedCount();
            // As painting asks: the first answer may be the placeholder, the thumbnail follows.
            const int row = int(photos.indexOf(QStringLiteral("IMG_0102.HEIC")));
            const QModelIndex at = w->lvThumbs->model()->index(row, 0);
            w->lvThumbs->model()->data(at, Qt::DecorationRole);
            waitUntil([&] {
                gridTurned = w->lvThumbs->model()->data(at, Qt::DecorationRole).value<QPixmap>().size();
                return gridTurned != QSize(160, 160);
            }, 10000);
        }
        w->btnClose->click();
    });
    form.actCamera->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));

    for (const char* name : {"IMG_0101.HEIC", "IMG_0102.HEIC", "IMG_0103.HEIC", "IMG_0105.JPG"})
        QVERIFY2(photos.contains(name), qPrintable(photos.join(',').left(300)));
    // The Live Photo's video is named in its photo's row and stays on the Videos tab.
    QCOMPARE(live.value(int(photos.indexOf("IMG_0103.HEIC"))), QStringLiteral("IMG_0103.MOV"));
    QCOMPARE(live.value(int(photos.indexOf("IMG_0101.HEIC"))), QString());
    QVERIFY(videos.contains("IMG_0103.MOV") && videos.contains("IMG_0104.MOV"));

    QCOMPARE(upright, QSize(800, 600)); // smaller than any screen: full size
    QCOMPARE(turned, QSize(600, 800));
    QVERIFY(turnedGreenTopRight);
    QCOMPARE(gridFinished, int(photos.size()));
    QCOMPARE(gridTurned, QSize(120, 160));
    // The thumbnails are kept in the backup's private working folder.
    QStringList caches;
    for (QDirIterator it(TWorkFolder::root(), {"thumbnails"}, QDir::Dirs,
                         QDirIterator::Subdirectories);
         it.hasNext();)
        caches << it.next();
    QCOMPARE(caches.size(), 1);
    QCOMPARE(QDir(caches.first()).entryList(QDir::Files).size(), photos.size());
}

void TestCurrentRoll::imageWindowSavesOriginalAndJpeg()
{
    const QString src = m_dir->filePath("0f3a"); // stored copies carry no extension
    const QByteArray heic =
        media::heicPicture(media::markedPicture(240, 160, QStringLiteral("save")), 6, 0, 80);
    QVERIFY(writeFile(src, heic));
    const QString out = m_dir->filePath("saved");
    QVERIFY(QDir().mkpath(out));
    QVERIFY(writeFile(QDir(out).filePath("IMG_0102.JPG"), "an older file of that name"));
    setMediaFolderChooser([out](QWidget*, const QString&) { return out; });
    const auto restore = qScopeGuard([] { setMediaFolderChooser({}); });
    m_messages.clear();

    TExportFile file{src, QStringLiteral("/e/Media/DCIM/100APPLE/IMG_0102.HEIC"), "100APPLE"};
    TFormImage form;
    form.loadFile(file);
    QVERIFY(!form.btnSaveJpeg->isHidden());
    form.btnSaveJpeg->click();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QCOMPARE(m_messages, QStringList{"Export Image successfully"});
    // Full size, upright, replacing the older file.
    const QImage jpeg = readPicture(QDir(out).filePath("IMG_0102.JPG"));
    QCOMPARE(jpeg.size(), QSize(160, 240));
    QVERIFY(isGreen(jpeg.pixelColor(jpeg.width() - 10, 10)));
    // Save keeps the original bytes.
    form.btnSave->click();
    QFile original(QDir(out).filePath("IMG_0102.HEIC"));
    QVERIFY(original.open(QIODevice::ReadOnly));
    QCOMPARE(original.readAll(), heic);

    // A JPEG is saved as it is; no second JPEG offered.
    const QString jpegSrc = m_dir->filePath("9c1d");
    QVERIFY(QFile::copy(QDir(out).filePath("IMG_0102.JPG"), jpegSrc));
    TExportFile photo{jpegSrc, QStringLiteral("/e/Media/DCIM/100APPLE/IMG_0105.JPG"), "100APPLE"};
    TFormImage second;
    second.loadFile(photo);
    QVERIFY(second.btnSaveJpeg->isHidden());
}

void TestCurrentRoll::hevcVideoPlays()
{
    const QString path = m_dir->filePath("IMG_0104.MOV");
    QVERIFY(writeFile(path, media::hevcClip(2)));
    TExportFile file{path, path, {}};
    TFormVideo form(file);
    form.show();
    form.FormShow();
    QVERIFY2(qAbs(form.Player->Duration() - 2.0) < 0.1,
             qPrintable(QString::number(form.Player->Duration())));
    QCOMPARE(form.Player->VideoWidth(), 320);
    // A decoded HEVC picture reaches the display.
    QTRY_VERIFY_WITH_TIMEOUT(!form.vwVideo->Bitmap().isNull(), 10000);
    QCOMPARE(form.vwVideo->Bitmap().size(), QSize(320, 240));
}

void TestCurrentRoll::thumbnailsDoNotBlockTheWindow()
{
    // 24 photos of 2400 x 1800, half HEIC (decoded whole, the slowest kind).
    const QString roll = m_dir->filePath("roll");
    QVERIFY(QDir().mkpath(roll));
    std::vector<QByteArray> heics, jpegs;
    for (int i = 0; i < 1; ++i) {
        const QImage picture = grainyPicture(2400, 1800, QStringLiteral("grain %1").arg(i));
        heics.push_back(media::heicPicture(picture, 1, 0, 60));
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        picture.save(&buffer, "JPEG", 90);
        jpegs.push_back(jpeg);
    }
    std::vector<TExportFile> list;
    for (int i = 0; i < 24; ++i) {
        const bool heic = i % 2 == 0;
        const QString src = QDir(roll).filePath(QString::number(i));
        QVERIFY(writeFile(src, heic ? heics[0] : jpegs[0]));
        list.push_back({src, QStringLiteral("/x/IMG_%1.%2").arg(i).arg(heic ? "HEIC" : "JPG"),
                        QStringLiteral("100APPLE")});
    }
    // What one thumbnail costs when made on the GUI thread, on this machine and at its load
    // now: the best of two.
    qint64 oneDecode = std::numeric_limits<qint64>::max();
    for (int i = 0; i < 2; ++i) {
        QElapsedTimer clock;
        clock.start();
        QVERIFY(!readThumbnail(list[0].srcFile, QSize(160, 160)).isNull());
        oneDecode = std::min(oneDecode, clock.elapsed());
    }
    const QString cache = m_dir->filePath("thumbcache");

    qint64 longest = 0;
    qint64 took = 0;
    {
        TFormPhoto form;
        form.FPhotos = &list;
        form.thumbnailFolder = cache;
        form.InitGUI();
        form.resize(900, 700);
        form.show();
        QElapsedTimer total, tick;
        QTimer meter;
        meter.setInterval(5);
        connect(&meter, &QTimer::timeout, [&] { longest = std::max(longest, tick.restart()); });
        total.start();
        tick.start();
        meter.start();
        form.showThumbnails(true);
        QCOMPARE(form.stkPhoto->currentWidget(), form.lvThumbs);
        QVERIFY(waitUntil([&] { return form.thumbnailLoader()->isIdle(); }, 120000));
        took = total.elapsed();
        QCOMPARE(form.thumbnailLoader()->finishedCount(), 24);
    }
    // Had any thumbnail been made on the GUI thread, the window would have stood still for
    // as long as that took.
    QVERIFY2(longest < oneDecode,
             qPrintable(QStringLiteral("made in %1 ms, longest stall %2 ms, one decode %3 ms")
                            .arg(took)
                            .arg(longest)
                            .arg(oneDecode)));
    qInfo("made in %lld ms, longest stall %lld ms, one decode %lld ms", took, longest, oneDecode);
    const QStringList cached = QDir(cache).entryList(QDir::Files);
    QCOMPARE(cached.size(), 24);

    // A second window reads them from the cache: nothing is made again.
    QHash<QString, QDateTime> written;
    for (const QString& name : cached)
        written.insert(name, QFileInfo(QDir(cache).filePath(name)).lastModified());
    TFormPhoto again;
    again.FPhotos = &list;
    again.thumbnailFolder = cache;
    again.InitGUI();
    again.showThumbnails(true);
    QVERIFY(waitUntil([&] { return again.thumbnailLoader()->isIdle(); }, 30000));
    QCOMPARE(again.thumbnailLoader()->finishedCount(), 24);
    for (const QString& name : cached)
        QCOMPARE(QFileInfo(QDir(cache).filePath(name)).lastModified(), written.value(name));
}

void TestCurrentRoll::thumbnailWantedAgainComesFromCache()
{
    // A grid lets go of thumbnails scrolled far away; painted again, they must come back.
    const QString dir = m_dir->filePath("again");
    QVERIFY(QDir().mkpath(dir));
    const QString good = QDir(dir).filePath("a");
    const QString bad = QDir(dir).filePath("b");
    QVERIFY(writeFile(good, media::heicPicture(media::markedPicture(320, 240, "again"), 1, 0, 60)));
    QVERIFY(writeFile(bad, "no picture"));
    TThumbnailLoader loader(QDir(dir).filePath("cache"), QSize(64, 64));
    QList<int> ready, failed;
    connect(&loader, &TThumbnailLoader::ready, this,
            [&](int i, const QImage& image) { ready << (image.size() == QSize(64, 48) ? i : -1); });
    connect(&loader, &TThumbnailLoader::failed, this, [&](int i, const QString&) { failed << i; });
    loader.setFiles({good, bad});
    loader.wantAll();
    QVERIFY(waitUntil([&] { return loader.isIdle(); }, 30000));
    QCOMPARE(ready, QList<int>{0});
    QCOMPARE(failed, QList<int>{1});

    QVERIFY(QFile::remove(good)); // from now on only the cache file has it
    loader.want(0);
    loader.want(1); // a picture that failed is not tried again
    QVERIFY(waitUntil([&] { return loader.isIdle(); }, 30000));
    QCOMPARE(ready, QList<int>({0, 0}));
    QCOMPARE(failed, QList<int>{1});
    QCOMPARE(loader.finishedCount(), 2);
}

QTEST_MAIN(TestCurrentRoll)
#include "tst_currentroll.moc"
