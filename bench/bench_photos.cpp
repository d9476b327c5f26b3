// The camera window's thumbnail grid on a 20,000-photo roll (half HEIC, half JPEG, all in one
// folder, the worst case for the grid): time until the first screen of thumbnails shows, time
// until every thumbnail is made, and the GUI thread's longest stall meanwhile, while the grid
// is scrolled a page every 200 ms as a user would. A second opening reads the cache. Then the
// image window's open time (copy plus decode at the screen's size) for a 12-megapixel HEIC and
// 48-megapixel HEIC and JPEG photos.
// Run: QT_QPA_PLATFORM=offscreen build/bench/bench_photos [photos [width height]]
//      [--decode-only | --roll-only]
// Figures are wall-clock, with the process's CPU time beside them: the machine is shared.
#include "CurrentPhotos.h"
#include "MediaData.h"
#include "app/Application.h"
#include "media/FormImage.h"
#include "media/FormPhoto.h"
#include "media/PictureReader.h"
#include "media/ThumbnailLoader.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListView>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <set>

namespace {

double cpuSeconds()
{
    return double(std::clock()) / CLOCKS_PER_SEC;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray jpeg(const QImage& image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", quality);
    return bytes;
}

// A photo-like picture: markedPicture with grain, so it compresses and decodes like a photo.
QImage grainyPicture(int w, int h, const QString& label)
{
    QImage image = media::markedPicture(w, h, label).convertToFormat(QImage::Format_RGB32);
    quint32 seed = uint(qHash(label)) | 1u;
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            seed ^= seed << 13;
            seed ^= seed >> 17;
            seed ^= seed << 5;
            const int n = int(seed % 24) - 12;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                           std::clamp(qBlue(p) + n, 0, 255));
        }
    }
    return image;
}

// Measures the longest time the GUI thread went without running a 5 ms timer.
class StallMeter
{
public:
    StallMeter()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_clock.restart());
        });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_timer.start();
    }
    qint64 longestMs()
    {
        m_timer.stop();
        return m_longest;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_longest = 0;
};

struct GridRun
{
    qint64 firstScreenMs = -1;
    qint64 allMs = -1;
    double cpu = 0;
    qint64 stallMs = 0;
    int failed = 0;
};

GridRun runGrid(const std::vector<TExportFile>& list, const QString& cache)
{
    GridRun run;
    TFormPhoto form;
    form.FPhotos = &list;
    form.thumbnailFolder = cache;
    form.InitGUI();
    form.resize(1280, 1024);
    form.show();
    QCoreApplication::processEvents();

    StallMeter stalls;
    QElapsedTimer clock;
    const double cpu0 = cpuSeconds();
    stalls.start();
    clock.start();
    form.showThumbnails(true);
    TThumbnailLoader* loader = form.thumbnailLoader();
    std::set<int> done;
    QObject::connect(loader, &TThumbnailLoader::ready, [&done](int i, const QImage&) {
        done.insert(i);
    });
    QObject::connect(loader, &TThumbnailLoader::failed, [&run](int, const QString&) {
        ++run.failed;
    });
    QCoreApplication::processEvents();

    // The first screen: the rows the viewport shows at the start.
    QListView* view = form.lvThumbs;
    std::vector<int> firstScreen;
    for (int row = 0; row < view->model()->rowCount(); ++row) {
        if (!view->viewport()->rect().intersects(view->visualRect(view->model()->index(row, 0))))
            break;
        firstScreen.push_back(row);
    }
    QTimer scroll;
    scroll.setInterval(200);
    QObject::connect(&scroll, &QTimer::timeout, [view] {
        QScrollBar* bar = view->verticalScrollBar();
        bar->setValue(bar->value() + bar->pageStep());
    });
    while (!loader->isIdle() || loader->finishedCount() < loader->count()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); // as the window's own loop: no spinning
        if (run.firstScreenMs < 0 &&
            std::all_of(firstScreen.begin(), firstScreen.end(),
                        [&done](int row) { return done.count(row) > 0; })) {
            run.firstScreenMs = clock.elapsed();
            scroll.start();
        }
        if (clock.elapsed() > 600000)
            break;
    }
    run.allMs = clock.elapsed();
    run.cpu = cpuSeconds() - cpu0;
    run.stallMs = stalls.longestMs();
    std::printf("  first screen: %d thumbnails\n", int(firstScreen.size()));
    return run;
}

void timeImageWindow(const char* name, const QString& path)
{
    TExportFile file;
    file.srcFile = path;
    file.dstFile = QStringLiteral("/DCIM/100APPLE/") + QFileInfo(path).fileName();
    for (int round = 0; round < 2; ++round) {
        QElapsedTimer clock;
        const double cpu0 = cpuSeconds();
        clock.start();
        TFormImage form;
        form.loadFile(file);
        const qint64 ms = clock.elapsed();
        std::printf("%-34s %6lld ms (cpu %.2f s)  shown %dx%d of a %dx%d screen%s\n", name,
                    static_cast<long long>(ms), cpuSeconds() - cpu0,
                    form.imgPhoto->image().width(), form.imgPhoto->image().height(),
                    form.displaySize().width(), form.displaySize().height(),
                    round == 0 ? " (first)" : "");
    }
}

} // namespace

int main(int argc, char* argv[])
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0); // figures show as they come, also into a file
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.filePath("data").toUtf8());
    TApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int photos = args.size() > 1 && args[1].toInt() > 0 ? args[1].toInt() : 20000;
    const int w = args.size() > 3 ? args[2].toInt() : 1024;
    const int h = args.size() > 3 ? args[3].toInt() : 768;

    QTemporaryDir dir;
    const QString rollDir = dir.filePath(QStringLiteral("roll"));
    QDir().mkpath(rollDir);

    // Eight distinct pictures of each kind, written under 20,000 names. Each carries the small
    // copy phones store: a 320 x 240 thumbnail item in a HEIC, a 160 x 120 EXIF one in a JPEG.
    QElapsedTimer clock;
    clock.start();
    std::vector<QByteArray> heics;
    std::vector<QByteArray> jpegs;
    for (int i = 0; i < 8; ++i) {
        const QImage picture = grainyPicture(w, h, QStringLiteral("bench %1").arg(i));
        heics.push_back(media::heicPicture(picture, i % 4 == 3 ? 6 : 1, 320, 50));
        // Cameras store a 160 x 120 copy in the EXIF block; the grid uses it.
        jpegs.push_back(media::withExifOrientation(
            jpeg(picture, 85), 1,
            jpeg(picture.scaled(160, 120, Qt::KeepAspectRatio, Qt::SmoothTransformation), 80)));
    }
    std::vector<TExportFile> list;
    list.reserve(size_t(photos));
    for (int i = 0; i < photos; ++i) {
        const bool heic = i % 2 == 0;
        const QString name = QStringLiteral("IMG_%1.%2")
                                 .arg(i, 5, 10, QLatin1Char('0'))
                                 .arg(heic ? QStringLiteral("HEIC") : QStringLiteral("JPG"));
        TExportFile file;
        file.srcFile = QDir(rollDir).filePath(QStringLiteral("%1").arg(i, 5, 10, QLatin1Char('0')));
        file.dstFile = QStringLiteral("/export/Media/DCIM/100APPLE/") + name;
        file.parentFolder = QStringLiteral("100APPLE");
        if (!writeFile(file.srcFile, heic ? heics[size_t(i / 2 % 8)] : jpegs[size_t(i / 2 % 8)]))
            return 1;
        list.push_back(std::move(file));
    }
    // What one thumbnail costs on one thread, without the window.
    for (int kind = 0; kind < 2; ++kind) {
        const QString& one = list[size_t(kind)].srcFile;
        const double cpu0 = cpuSeconds();
        QElapsedTimer t;
        t.start();
        constexpr int kRounds = 200;
        for (int i = 0; i < kRounds; ++i)
            readThumbnail(one, QSize(160, 160));
        std::printf("one %s thumbnail: %.2f ms (cpu %.2f ms)\n", kind == 0 ? "HEIC" : "JPEG",
                    double(t.elapsed()) / kRounds, (cpuSeconds() - cpu0) * 1000 / kRounds);
    }
    if (args.contains(QStringLiteral("--decode-only")))
        return 0;
    std::printf("roll: %d photos of %dx%d (HEIC %lld bytes, JPEG %lld bytes each), made in %.1f s\n",
                photos, w, h, static_cast<long long>(heics[0].size()),
                static_cast<long long>(jpegs[0].size()), clock.elapsed() / 1000.0);

    const QString cache = dir.filePath(QStringLiteral("thumbnails"));
    const char* labels[] = {"thumbnails made", "thumbnails from the cache"};
    for (const char* label : labels) {
        std::printf("%s:\n", label);
        const GridRun run = runGrid(list, cache);
        std::printf("  first screen %lld ms (goal < 1000), all %lld ms (goal < 60000), cpu %.1f s,"
                    " longest GUI stall %lld ms, failed %d\n",
                    static_cast<long long>(run.firstScreenMs), static_cast<long long>(run.allMs),
                    run.cpu, static_cast<long long>(run.stallMs), run.failed);
    }

    if (args.contains(QStringLiteral("--roll-only")))
        return 0;
    // Large photos. The HEIC ones are single images (libheif 1.15 writes no grids); a phone's
    // are grids of 512 x 512 tiles, which libheif decodes on several threads.
    clock.restart();
    const QString heic12 = dir.filePath(QStringLiteral("IMG_12MP.HEIC"));
    const QString heic48 = dir.filePath(QStringLiteral("IMG_48MP.HEIC"));
    const QString jpeg48 = dir.filePath(QStringLiteral("IMG_48MP.JPG"));
    writeFile(heic12, media::heicPicture(grainyPicture(4032, 3024, QStringLiteral("12")), 6, 320, 50));
    writeFile(heic48, media::heicPicture(grainyPicture(8064, 6048, QStringLiteral("48")), 1, 320, 50));
    QProcess::execute(QStringLiteral("ffmpeg"),
                      {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                       QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                       QStringLiteral("testsrc2=size=8064x6048"), QStringLiteral("-vf"),
                       QStringLiteral("noise=alls=12:allf=t"), QStringLiteral("-frames:v"),
                       QStringLiteral("1"), QStringLiteral("-q:v"), QStringLiteral("3"), jpeg48});
    std::printf("large photos made in %.1f s\n", clock.elapsed() / 1000.0);
    timeImageWindow("12 MP HEIC (goal < 500 ms)", heic12);
    timeImageWindow("48 MP HEIC (goal < 1000 ms)", heic48);
    timeImageWindow("48 MP JPEG (goal < 1000 ms)", jpeg48);
    return 0;
}
