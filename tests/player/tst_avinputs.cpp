// The engine's own inputs: a player reads a host's stream, a buffered URL, a bitmap, a bitmap
// handed out by a callback, a rectangle of the X11 screen and ALAC packets the host receives.
#include "FrameReading.h"
#include "TestSupport.h"
#include "player/AVPlayer.h"
#include "player/HostInputs.h"
#include "util/Error.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

// These tests read the engine's queues themselves and handle no events while they wait.
template <typename Pred> bool pollUntil(Pred pred, int timeoutMs)
{
    return ::waitUntil(pred, timeoutMs, WaitEvents::Sleep);
}

struct Picture
{
    QImage image;
    double pts = 0;
};

// The next picture of the current serial, as a copy.
std::optional<Picture> takePicture(TAVPlayer& player, int timeoutMs = 5000)
{
    TFrameQueue* q = player.PictureQueue();
    std::optional<Picture> result;
    pollUntil(
        [&] {
            TVideoFrame* vp = q->peek_readable(false);
            if (!vp)
                return false;
            if (vp->serial != player.VideoQueue()->Serial() || !vp->bmp) {
                q->next();
                return false;
            }
            const AVFrame* f = vp->bmp.get();
            if (f->format != AV_PIX_FMT_BGRA) {
                q->next();
                return false;
            }
            result = Picture{
                QImage(f->data[0], f->width, f->height, f->linesize[0], QImage::Format_RGB32)
                    .copy(),
                vp->pts};
            q->next();
            return true;
        },
        timeoutMs);
    return result;
}

// Decoded samples (16-bit stereo) until the player met the end of its input and at least
// expectedBytes arrived, then whatever still follows within a moment (there should be none).
QByteArray takeAllSamples(TAVPlayer& player, qsizetype expectedBytes, int timeoutMs = 10000)
{
    QByteArray bytes;
    TFrameQueue* q = player.SampleQueue();
    auto drain = [&] {
        while (TVideoFrame* af = q->peek_readable(false)) {
            const AVFrame* f = af->frame.get();
            if (af->serial == player.AudioQueue()->Serial() && f->format == AV_SAMPLE_FMT_S16 &&
                f->ch_layout.nb_channels == 2)
                bytes.append(reinterpret_cast<const char*>(f->data[0]), f->nb_samples * 4);
            q->next();
        }
    };
    pollUntil(
        [&] {
            drain();
            return player.PlaybackFinished() && bytes.size() >= expectedBytes;
        },
        timeoutMs);
    pollUntil(
        [&] {
            drain();
            return false;
        },
        200);
    return bytes;
}

// The first decoded block after a seek, and its time.
std::optional<double> takeSamplesPts(TAVPlayer& player, int timeoutMs = 5000)
{
    return takeCurrentFrame(
        player.SampleQueue(), player.AudioQueue(), [](const TVideoFrame* af) { return af->pts; },
        timeoutMs);
}

// Compares decoded samples; the first difference, if any, in the message.
QString sampleDifference(const QByteArray& got, const QByteArray& expected)
{
    const auto* a = reinterpret_cast<const int16_t*>(got.constData());
    const auto* b = reinterpret_cast<const int16_t*>(expected.constData());
    const qsizetype n = std::min(got.size(), expected.size()) / 2;
    for (qsizetype i = 0; i < n; ++i)
        if (a[i] != b[i])
            return QStringLiteral("sample %1: %2 instead of %3").arg(i).arg(a[i]).arg(b[i]);
    if (got.size() != expected.size())
        return QStringLiteral("%1 bytes instead of %2").arg(got.size()).arg(expected.size());
    return QString();
}

QRgb pixel(const QImage& image, double x, double y)
{
    return image.pixel(int(x * image.width()), int(y * image.height())) | 0xff000000u;
}

// Four quadrants: red, green above; blue, white below.
constexpr QRgb kQuadrants[4] = {0xffff0000u, 0xff00ff00u, 0xff0000ffu, 0xffffffffu};

void checkQuadrants(const QImage& image)
{
    QCOMPARE(pixel(image, 0.25, 0.25), kQuadrants[0]);
    QCOMPARE(pixel(image, 0.75, 0.25), kQuadrants[1]);
    QCOMPARE(pixel(image, 0.25, 0.75), kQuadrants[2]);
    QCOMPARE(pixel(image, 0.75, 0.75), kQuadrants[3]);
}

void paintQuadrants(QImage& image)
{
    const int w = image.width() / 2, h = image.height() / 2;
    QPainter p(&image);
    p.fillRect(0, 0, w, h, QColor(kQuadrants[0]));
    p.fillRect(w, 0, image.width() - w, h, QColor(kQuadrants[1]));
    p.fillRect(0, h, w, image.height() - h, QColor(kQuadrants[2]));
    p.fillRect(w, h, image.width() - w, image.height() - h, QColor(kQuadrants[3]));
}

int openFileCount()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
}

struct FormatCloser
{
    void operator()(AVFormatContext* p) const { avformat_close_input(&p); }
};

} // namespace

class TestAVInputs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void streamAndBufferPlayTheFile_data();
    void streamAndBufferPlayTheFile();
    void hostStreamGoesAwayWhilePlaying();
    void openErrors_data();
    void openErrors();
    void ioAssertionsAndInnerClose();
    void bitmapPicturesFollowTheDrawing();
    void bitmapCallbackWaitsForReady();
    void screenRectangle();
    void airDecodesAlacPackets();

private:
    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    void ffmpeg(const QStringList& args);
    QByteArray readFile(const char* name);

    QTemporaryDir m_dir;
};

void TestAVInputs::ffmpeg(const QStringList& args)
{
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(QStringLiteral("ffmpeg"),
            QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
    QVERIFY2(p.waitForFinished(60000), qPrintable(args.join(' ')));
    QVERIFY2(p.exitCode() == 0, qPrintable(QString::fromLocal8Bit(p.readAllStandardError())));
}

QByteArray TestAVInputs::readFile(const char* name)
{
    QFile f(path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TestAVInputs::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // 44100 Hz stereo 16-bit: what a player without output hands on unchanged.
    const QStringList tone{"-f",  "lavfi",
                           "-i",  "sine=frequency=440:duration=1.5:sample_rate=44100",
                           "-af", "pan=stereo|c0=c0|c1=-0.5*c0"};
    ffmpeg(tone + QStringList{"tone.wav"});
    ffmpeg(tone + QStringList{"-f", "s16le", "tone.raw"});
    ffmpeg(tone + QStringList{"-c:a", "alac", "-sample_fmt", "s16p", "tone.m4a"});
}

void TestAVInputs::streamAndBufferPlayTheFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("QBuffer through stream:") << "buffer";
    QTest::newRow("QBuffer through stream:.wav") << "buffer.wav";
    QTest::newRow("QFile reopened by name") << "file";
    QTest::newRow("buffer:file:") << "buffer:file:";
    QTest::newRow("buffer: with a plain path") << "buffer:";
}

// Every sample of the file arrives, and a seek lands where it should.
void TestAVInputs::streamAndBufferPlayTheFile()
{
    QFETCH(QString, kind);
    const QByteArray wav = readFile("tone.wav");
    QBuffer buffer;
    buffer.setData(wav);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    // The input starts from the beginning wherever the host left its stream.
    buffer.seek(wav.size() / 2);
    // Not opened: only its name can make it play.
    QFile file(path("tone.wav"));
    std::unique_ptr<TAVStreamInput> input;
    QString url;
    if (kind.startsWith(QLatin1String("buffer:"))) {
        url = kind + path("tone.wav");
    } else if (kind == QLatin1String("file")) {
        input = std::make_unique<TAVStreamInput>(&file);
        url = input->Url();
    } else {
        input = std::make_unique<TAVStreamInput>(&buffer);
        url = input->Url(kind.endsWith(QLatin1String(".wav")) ? QStringLiteral(".wav") : QString());
    }

    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.OpenMovie(url, false, true);
    QVERIFY2(std::fabs(player.Duration() - 1.5) < 0.01,
             qPrintable(QString::number(player.Duration())));
    const QByteArray expected = readFile("tone.raw");
    const QByteArray samples = takeAllSamples(player, expected.size());
    const QString difference = sampleDifference(samples, expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));

    const int serial = player.AudioQueue()->Serial();
    player.setPosition(1.0);
    QVERIFY(pollUntil([&] { return player.AudioQueue()->Serial() > serial; }, 2000));
    const std::optional<double> pts = takeSamplesPts(player);
    QVERIFY(pts);
    QVERIFY2(std::fabs(*pts - 1.0) < 0.05, qPrintable(QString::number(*pts)));
    player.CloseMovie();
    QVERIFY(!file.isOpen()); // the host's file was never touched
}

// Once the host's stream object is gone the player never touches the device again: its input
// ends, and the device may go too.
void TestAVInputs::hostStreamGoesAwayWhilePlaying()
{
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(readFile("tone.wav"));
    QVERIFY(buffer->open(QIODevice::ReadOnly));
    auto input = std::make_unique<TAVStreamInput>(buffer.get());
    TAVPlayer player;
    player.setOutputEnabled(false);
    player.OpenMovie(input->Url(), false, true);
    QVERIFY(takeSamplesPts(player));
    input.reset();
    buffer.reset();
    QVERIFY(pollUntil(
        [&] {
            takeSamplesPts(player, 0);
            return player.PlaybackFinished();
        },
        5000));
    player.CloseMovie();
}

void TestAVInputs::openErrors_data()
{
    QTest::addColumn<QString>("inputFormat");
    QTest::addColumn<QString>("object");  // which host object names the input
    QTest::addColumn<QString>("movie");   // %1: its number
    QTest::addColumn<QString>("message"); // %1: the movie
    QTest::addColumn<QString>("logged");
    const QString cannotOpen = QStringLiteral("Can not open file %1 with error!");
    QTest::newRow("stream: no such number")
        << ""
        << "none"
        << "stream:987654321" << cannotOpen << "stream: no host stream 987654321";
    QTest::newRow("stream: not a number")
        << ""
        << "none"
        << "stream:12ab.wav" << cannotOpen << "stream: no host stream 12ab";
    QTest::newRow("stream: a stream that is gone") << ""
                                                   << "gone stream"
                                                   << "stream:%1" << cannotOpen << "no host stream";
    QTest::newRow("stream: a bitmap's number") << ""
                                               << "bitmap"
                                               << "stream:%1" << cannotOpen << "no host stream";
    QTest::newRow("stream: not open for reading")
        << ""
        << "closed buffer"
        << "stream:%1" << cannotOpen << "is not open for reading";
    QTest::newRow("buffer: inner URL missing")
        << ""
        << "none"
        << "buffer:file:/nonexistent/x.wav" << cannotOpen << "buffer: can not open";
    QTest::newRow("bmpcap: no such number")
        << "bmpcap"
        << "none"
        << "4242424242" << cannotOpen << "bmpcap: no host object 4242424242";
    QTest::newRow("bmpcap: a stream's number") << "bmpcap"
                                               << "stream"
                                               << "%1" << cannotOpen << "bmpcap: no host object";
    QTest::newRow("bmpcap2: a bitmap's number") << "bmpcap2"
                                                << "bitmap"
                                                << "%1" << cannotOpen << "bmpcap2: no host object";
    QTest::newRow("air: a negative number") << "air"
                                            << "none"
                                            << "-1" << cannotOpen << "air: no host object -1";
    QTest::newRow("air: payload type not 96") << "air"
                                              << "air 97"
                                              << "%1"
                                              << "Assertion failure (AirAudio, line 87)"
                                              << "";
    QTest::newRow("air: sample size 20") << "air"
                                         << "air 20 bits"
                                         << "%1" << cannotOpen << "air: unsupported sample size 20";
    QTest::newRow("air: eleven numbers") << "air"
                                         << "air short"
                                         << "%1" << cannotOpen << "air: the format has 11 numbers";
}

// Every number that is not a live host object of the kind opened fails the open; nothing is
// read from it as an address.
void TestAVInputs::openErrors()
{
    QFETCH(QString, inputFormat);
    QFETCH(QString, object);
    QFETCH(QString, movie);
    QFETCH(QString, message);
    QFETCH(QString, logged);
    QBuffer buffer;
    buffer.setData(readFile("tone.wav"));
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QBuffer closed;
    std::unique_ptr<TAVHostObject> host;
    QString number;
    if (object == QLatin1String("gone stream")) {
        number = TAVStreamInput(&buffer).Number();
    } else if (object == QLatin1String("bitmap")) {
        host = std::make_unique<TAVBitmapInput>(16, 16);
    } else if (object == QLatin1String("stream")) {
        host = std::make_unique<TAVStreamInput>(&buffer);
    } else if (object == QLatin1String("closed buffer")) {
        host = std::make_unique<TAVStreamInput>(&closed);
    } else if (object == QLatin1String("air 97")) {
        host =
            std::make_unique<TAVAirInput>(QStringLiteral("97 352 0 16 40 10 14 2 255 0 0 44100"));
    } else if (object == QLatin1String("air 20 bits")) {
        host =
            std::make_unique<TAVAirInput>(QStringLiteral("96 352 0 20 40 10 14 2 255 0 0 44100"));
    } else if (object == QLatin1String("air short")) {
        host = std::make_unique<TAVAirInput>(QStringLiteral("96 352 0 16 40 10 14 2 255 0 0"));
    }
    if (host)
        number = host->Number();
    if (movie.contains(QLatin1String("%1")))
        movie = movie.arg(number);

    TAVPlayer player;
    player.setOutputEnabled(false);
    player.setInputFormat(inputFormat);
    try {
        player.OpenMovie(movie, false, true);
        QFAIL("the open should have failed");
    } catch (const Error& e) {
        const QString expected =
            QStringLiteral("Failed to open the file:") +
            (message.contains(QLatin1String("%1")) ? message.arg(movie) : message);
        QVERIFY2(e.message().startsWith(expected), qPrintable(e.message()));
        QVERIFY2(e.message().contains(logged), qPrintable(e.message()));
    }
    QVERIFY(!player.Playing());
    // The player stays usable.
    player.setInputFormat(QString());
    player.OpenMovie(path("tone.wav"), false, true);
    QVERIFY(takeSamplesPts(player));
}

// The protocol checks no FFmpeg call reaches, and the inner URL closing with its buffer.
void TestAVInputs::ioAssertionsAndInnerClose()
{
    QBuffer buffer;
    buffer.setData(QByteArray(1000, 'x'));
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    {
        THostStreamIO io(std::make_shared<TStreamState>(&buffer));
        QCOMPARE(io.Seek(0, AVSEEK_SIZE), int64_t(1000));
        QCOMPARE(io.Seek(-10, SEEK_END | AVSEEK_FORCE), int64_t(990));
        QCOMPARE(io.Seek(5, SEEK_CUR), int64_t(995));
        try {
            io.Seek(0, 3);
            QFAIL("an unknown origin should fail");
        } catch (const Error& e) {
            QCOMPARE(e.message(), QStringLiteral("Assertion failure (StreamProtocol, line 200)"));
        }
    }

    const int before = openFileCount();
    {
        Dictionary options;
        THostBufferIO io(QStringLiteral("file:") + path("tone.raw"), nullptr, options.ptr());
        QVERIFY(openFileCount() > before);
        uint8_t byte = 0;
        try {
            io.Read(&byte, 0);
            QFAIL("a read of no bytes should fail");
        } catch (const Error& e) {
            QCOMPARE(e.message(), QStringLiteral("Assertion failure (BufferProtocol, line 56)"));
        }
        // A read returns everything asked for, across the inner URL's reads, then the rest.
        const QByteArray expected = readFile("tone.raw");
        QByteArray got(200000, '\0');
        QCOMPARE(io.Read(reinterpret_cast<uint8_t*>(got.data()), 200000), 200000);
        QCOMPARE(got, expected.left(200000));
        QCOMPARE(io.Read(reinterpret_cast<uint8_t*>(got.data()), 200000),
                 int(expected.size() - 200000));
        QCOMPARE(io.Read(reinterpret_cast<uint8_t*>(got.data()), 200000), AVERROR_EOF);
        QCOMPARE(io.Seek(0, AVSEEK_SIZE), int64_t(expected.size()));
    }
    QCOMPARE(openFileCount(), before);
}

void TestAVInputs::bitmapPicturesFollowTheDrawing()
{
    auto bitmap = std::make_unique<TAVBitmapInput>(160, 128);
    bitmap->Draw(paintQuadrants);
    TAVPlayer player;
    player.setOutputEnabled(false);
    player.setInputFormat(TAVBitmapInput::InputFormat());
    player.OpenMovie(bitmap->DeviceName(), false, true);
    QVERIFY(player.Infinite());
    QCOMPARE(player.VideoStreamCount(), 1);
    const AVStream* st = player.VideoStreamProperties()[0]->Stream();
    QCOMPARE(st->codecpar->codec_id, AV_CODEC_ID_RAWVIDEO);
    QCOMPARE(st->codecpar->bits_per_coded_sample, 32);
    QCOMPARE(st->time_base.num, 1);
    QCOMPARE(st->time_base.den, 1000000);
    QCOMPARE(st->r_frame_rate.num, 30000);
    QCOMPARE(st->r_frame_rate.den, 1001);

    std::optional<Picture> picture = takePicture(player);
    QVERIFY(picture);
    QCOMPARE(picture->image.size(), QSize(160, 128));
    checkQuadrants(picture->image);

    // A new drawing shows up in the following pictures.
    bitmap->Draw([](QImage& image) { image.fill(QColor(Qt::yellow)); });
    QVERIFY(pollUntil(
        [&] {
            picture = takePicture(player, 0);
            return picture && pixel(picture->image, 0.5, 0.5) == 0xffffff00u;
        },
        3000));

    // Stamped with the wall clock, at most one picture per frame period of the NTSC rate (a
    // late one may come closer to the next).
    const double first = picture->pts;
    QVERIFY2(std::fabs(first - av_gettime() / 1e6) < 5, qPrintable(QString::number(first)));
    double last = first;
    for (int i = 0; i < 10; ++i) {
        picture = takePicture(player);
        QVERIFY(picture);
        QVERIFY(picture->pts > last);
        last = picture->pts;
    }
    QVERIFY2(last - first > 9 * 1001 / 30000.0 - 0.001, qPrintable(QString::number(last - first)));

    // The host's bitmap goes away: the input ends, nothing reads it any more.
    bitmap.reset();
    QVERIFY(pollUntil(
        [&] {
            takePicture(player, 0);
            return player.PlaybackFinished();
        },
        3000));
    player.CloseMovie();
}

void TestAVInputs::bitmapCallbackWaitsForReady()
{
    QImage record(96, 64, QImage::Format_RGB32);
    record.fill(Qt::black);
    std::atomic<int> calls = 0;
    std::atomic<bool> ready = false;
    std::atomic<bool> slotWasRecord = true;
    std::mutex timesLock;
    std::vector<int64_t> times; // of the calls while not ready, monotonic microseconds
    TAVBitmapCallbackInput input(record, [&](QImage& bitmap, bool& isReady) {
        ++calls;
        if (!ready) {
            std::lock_guard lock(timesLock);
            times.push_back(av_gettime_relative());
        }
        // The slot holds the record's bitmap.
        if (bitmap.size() != QSize(96, 64) || bitmap.pixel(0, 0) != 0xff000000u)
            slotWasRecord = false;
        if (!ready)
            return;
        QImage picture(96, 64, QImage::Format_ARGB32);
        paintQuadrants(picture);
        bitmap = picture;
        isReady = true;
    });
    TAVPlayer player;
    player.setOutputEnabled(false);
    player.setInputFormat(TAVBitmapCallbackInput::InputFormat());
    player.OpenMovie(input.DeviceName(), false, true);
    QTest::qWait(400);
    // Asked again and again, 20 ms apart, and no picture before the host has one.
    QVERIFY2(calls >= 5, qPrintable(QString::number(calls)));
    {
        std::lock_guard lock(timesLock);
        for (size_t i = 1; i < times.size(); ++i)
            QVERIFY2(times[i] - times[i - 1] >= 19000,
                     qPrintable(QString::number(times[i] - times[i - 1])));
    }
    QVERIFY(!takePicture(player, 0));
    ready = true;
    const std::optional<Picture> picture = takePicture(player);
    QVERIFY(picture);
    QCOMPARE(picture->image.size(), QSize(96, 64));
    checkQuadrants(picture->image);
    QVERIFY(slotWasRecord);
    player.CloseMovie();
}

// Draws on the root window of the X server and films a rectangle of it.
void TestAVInputs::screenRectangle()
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        QSKIP("needs an X display (the test runs under xvfb-run)");
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, void (*)(xcb_connection_t*)> c(
        xcb_connect(nullptr, &screenNumber), xcb_disconnect);
    QVERIFY(!xcb_connection_has_error(c.get()));
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c.get()));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    const xcb_screen_t* screen = it.data;
    QCOMPARE(screen->root_depth, uint8_t(24));
    const QRect area(100, 50, 320, 240);
    const xcb_gcontext_t gc = xcb_generate_id(c.get());
    xcb_create_gc(c.get(), gc, screen->root, 0, nullptr);
    for (int q = 0; q < 4; ++q) {
        const uint32_t colour = kQuadrants[q] & 0xffffff;
        xcb_change_gc(c.get(), gc, XCB_GC_FOREGROUND, &colour);
        const xcb_rectangle_t r{int16_t(area.x() + (q % 2) * 160),
                                int16_t(area.y() + (q / 2) * 120), 160, 120};
        xcb_poly_fill_rectangle(c.get(), screen->root, gc, 1, &r);
    }
    // A round trip: the drawing is done before anyone reads the screen.
    free(xcb_get_input_focus_reply(c.get(), xcb_get_input_focus(c.get()), nullptr));

    TAVScreenInput input(area);
    TAVPlayer player;
    player.setOutputEnabled(false);
    player.setInputFormat(TAVScreenInput::InputFormat());
    player.OpenMovie(input.DeviceName(), false, true);
    const AVStream* st = player.VideoStreamProperties()[0]->Stream();
    QCOMPARE(st->codecpar->bits_per_coded_sample, 32);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(st->codecpar->extradata),
                        st->codecpar->extradata_size),
             QByteArray("BottomUp", 9));
    const std::optional<Picture> picture = takePicture(player);
    QVERIFY(picture);
    QCOMPARE(picture->image.size(), area.size());
    checkQuadrants(picture->image); // the bottom-up copy is turned back
    player.CloseMovie();

    // Beyond the screen's edge.
    input.setArea(QRect(screen->width_in_pixels - 100, 0, 320, 240));
    try {
        player.OpenMovie(input.DeviceName(), false, true);
        QFAIL("the open should have failed");
    } catch (const Error& e) {
        QVERIFY2(e.message().startsWith(QStringLiteral("Failed to open the file:Can not open file "
                                                       "%1 with error!")
                                            .arg(input.DeviceName())),
                 qPrintable(e.message()));
        QVERIFY2(e.message().contains(QLatin1String("Specified size greater than Desktop size.")),
                 qPrintable(e.message()));
    }
    xcb_free_gc(c.get(), gc);
}

// ALAC packets of a file, handed over as a receiver would, decode into the file's samples.
void TestAVInputs::airDecodesAlacPackets()
{
    AVFormatContext* raw = nullptr;
    QVERIFY(avformat_open_input(&raw, path("tone.m4a").toUtf8().constData(), nullptr, nullptr) ==
            0);
    std::unique_ptr<AVFormatContext, FormatCloser> file(raw);
    QVERIFY(avformat_find_stream_info(raw, nullptr) >= 0);
    const AVCodecParameters* par = raw->streams[0]->codecpar;
    QCOMPARE(par->codec_id, AV_CODEC_ID_ALAC);
    QCOMPARE(par->extradata_size, 36);
    const QByteArray cookie(reinterpret_cast<const char*>(par->extradata), 36);
    auto be32 = [&](int at) {
        return (uint32_t(uint8_t(cookie[at])) << 24) | (uint32_t(uint8_t(cookie[at + 1])) << 16) |
               (uint32_t(uint8_t(cookie[at + 2])) << 8) | uint32_t(uint8_t(cookie[at + 3]));
    };
    auto byte = [&](int at) { return unsigned(uint8_t(cookie[at])); };
    // The receiver's description: payload type, frame length, version, sample size, the rice
    // parameters, channels, max run, max frame bytes, bit rate, sample rate.
    const QString format = QStringLiteral("96 %1 0 %2 %3 %4 %5 %6 255 %7 %8 %9")
                               .arg(be32(12))
                               .arg(byte(17))
                               .arg(byte(18))
                               .arg(byte(19))
                               .arg(byte(20))
                               .arg(byte(21))
                               .arg(be32(24))
                               .arg(be32(28))
                               .arg(be32(32));
    TAVAirInput air(format);
    std::vector<PacketPointer> packets;
    for (PacketPointer pkt = makePacket(); av_read_frame(raw, pkt.get()) >= 0; pkt = makePacket())
        packets.push_back(std::move(pkt));
    QVERIFY(packets.size() > 4);
    // Half arrives before the open, the rest while the player waits for it.
    const size_t half = packets.size() / 2;
    for (size_t i = 0; i < half; ++i)
        air.Queue().Put(packets[i].get());

    TAVPlayer player;
    player.setOutputEnabled(false);
    player.setInputFormat(TAVAirInput::InputFormat());
    player.OpenMovie(air.DeviceName(), false, true);
    const AVCodecContext* ctx = player.AudioCodecCtx();
    QVERIFY(ctx);
    QCOMPARE(ctx->codec_id, AV_CODEC_ID_ALAC);
    QCOMPARE(ctx->sample_rate, 44100);
    QCOMPARE(ctx->ch_layout.nb_channels, 2);
    // The description as the file has it, but for the max run, which goes out as zero.
    QByteArray expectedCookie = cookie;
    expectedCookie[22] = expectedCookie[23] = 0;
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(ctx->extradata), ctx->extradata_size),
             expectedCookie);
    std::thread feeder([&] {
        for (size_t i = half; i < packets.size(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            air.Queue().Put(packets[i].get());
        }
        air.EndOfInput();
    });
    const QByteArray expected = readFile("tone.raw");
    const QByteArray samples = takeAllSamples(player, expected.size());
    feeder.join();
    const QString difference = sampleDifference(samples, expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference));
    player.CloseMovie();
}

QTEST_GUILESS_MAIN(TestAVInputs)
#include "tst_avinputs.moc"
