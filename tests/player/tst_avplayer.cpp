#include "FrameReading.h"
#include "TestSupport.h"
#include "player/AVPlayer.h"
#include "util/Error.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <optional>
#include <thread>

namespace {

struct Picture
{
    double pts = 0;
    int serial = 0;
    int width = 0;
    int height = 0;
    int format = -1;
    int slotWidth = 0;
    int slotHeight = 0;
};

struct Samples
{
    int rightPeak = 0;
    int leftPeak = 0;
    double pts = 0;
    int serial = 0;
    int format = -1;
    int sampleRate = 0;
    int channels = 0;
};

// These tests read the engine's queues themselves and handle no events while they wait.
template <typename Pred> bool pollUntil(Pred pred, int timeoutMs)
{
    return ::waitUntil(pred, timeoutMs, WaitEvents::Sleep);
}

// Reads the next picture as the refresh side would, skipping pictures of an older serial.
std::optional<Picture> takePicture(TAVPlayer& player, int timeoutMs = 5000)
{
    return takeCurrentFrame(
        player.PictureQueue(), player.VideoQueue(),
        [](const TVideoFrame* vp) {
            Picture p;
            p.pts = vp->pts;
            p.serial = vp->serial;
            p.slotWidth = vp->width;
            p.slotHeight = vp->height;
            if (vp->bmp) {
                p.width = vp->bmp->width;
                p.height = vp->bmp->height;
                p.format = vp->bmp->format;
            }
            return p;
        },
        timeoutMs);
}

std::optional<Samples> takeSamples(TAVPlayer& player, int timeoutMs = 5000)
{
    return takeCurrentFrame(
        player.SampleQueue(), player.AudioQueue(),
        [](const TVideoFrame* af) {
            const AVFrame* f = af->frame.get();
            Samples s{
                0, 0, af->pts, af->serial, f->format, f->sample_rate, f->ch_layout.nb_channels};
            if (f->format == AV_SAMPLE_FMT_S16 && f->ch_layout.nb_channels == 2) {
                const auto* samples = reinterpret_cast<const int16_t*>(f->data[0]);
                for (int i = 0; i < f->nb_samples; ++i) {
                    s.leftPeak = std::max(s.leftPeak, std::abs(int(samples[2 * i])));
                    s.rightPeak = std::max(s.rightPeak, std::abs(int(samples[2 * i + 1])));
                }
            }
            return s;
        },
        timeoutMs);
}

// Serves the start of a file over TCP to one client, then keeps the connection open without
// sending more: a network input that stalls.
class StallingServer final
{
public:
    explicit StallingServer(QByteArray data) : m_data(std::move(data))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&addr), len) < 0 ||
            ::listen(m_listener, 1) < 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&addr), &len) < 0)
            return;
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] {
            const int client = ::accept(m_listener, nullptr, nullptr);
            if (client < 0)
                return;
            ::send(client, m_data.constData(), size_t(m_data.size()), MSG_NOSIGNAL);
            while (!m_stop)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ::close(client);
        });
    }
    ~StallingServer()
    {
        m_stop = true;
        ::shutdown(m_listener, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_listener);
    }
    StallingServer(const StallingServer&) = delete;
    StallingServer& operator=(const StallingServer&) = delete;

    QString url() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(m_port); }

private:
    QByteArray m_data;
    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

} // namespace

class TestAVPlayer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void picturesAreAlignedAndCropped_data();
    void picturesAreAlignedAndCropped();
    void audioFillsSampleQueue_data();
    void audioFillsSampleQueue();
    void rawSamplesUseRateAndChannels();
    void seekRaisesSerialsAndMoves();
    void endOfInputMarkerOnce();
    void attachedPictureAfterOpenAndSeek();
    void subtitleStreamIsListed();
    void audioStreamSwap();
    void playRange_data();
    void playRange();
    void durationUnknownReadsZero_data();
    void durationUnknownReadsZero();
    void optionRouting_data();
    void optionRouting();
    void openFailures_data();
    void openFailures();
    void truncatedFilePlaysWhatItCan();
    void closeJoinsQuickly_data();
    void closeJoinsQuickly();
    void stalledNetworkInput();
    void logLinesGoToTheirPlayer();
    void reopenKeepsConfiguration();

private:
    QString path(const char* name) const { return m_dir.filePath(QLatin1String(name)); }
    void ffmpeg(const QStringList& args);

    QTemporaryDir m_dir;
};

void TestAVPlayer::ffmpeg(const QStringList& args)
{
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(QStringLiteral("ffmpeg"),
            QStringList{"-hide_banner", "-loglevel", "error", "-y"} + args);
    QVERIFY2(p.waitForFinished(60000), qPrintable(args.join(' ')));
    QVERIFY2(p.exitCode() == 0, qPrintable(QString::fromLocal8Bit(p.readAllStandardError())));
}

void TestAVPlayer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QStringList x264{"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"};
    ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=3", "-f",
                       "lavfi", "-i", "sine=frequency=440:duration=3", "-g", "10"} +
           x264 + QStringList{"-c:a", "aac", "-movflags", "+faststart", "av.mp4"});
    ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc=size=1000x562:rate=25:duration=1"} + x264 +
           QStringList{"v1000.mp4"});
    ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc=size=1920x1080:rate=25:duration=0.4"} + x264 +
           QStringList{"v1080.mp4"});
    ffmpeg({"-f", "lavfi", "-i", "testsrc=size=64x48", "-frames:v", "1", "cover.png"});
    ffmpeg({"-f", "lavfi", "-i", "sine=duration=2", "-i", "cover.png", "-map", "0", "-map", "1",
            "-c:a", "libmp3lame", "-c:v", "png", "-disposition:v", "attached_pic", "-id3v2_version",
            "3", "cover.mp3"});
    ffmpeg({"-f", "lavfi", "-i", "sine=duration=1.5:sample_rate=22050", "tone.wav"});
    // Elementary streams: their containers hold no duration.
    ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2"} + x264 +
           QStringList{"-f", "h264", "raw.h264"});
    ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2", "-c:v", "mjpeg", "-f",
            "mjpeg", "raw.mjpeg"});
    // Matroska written as a live stream has neither duration nor index.
    ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=2"} + x264 +
           QStringList{"-f", "matroska", "-live", "1", "live.mkv"});
    // Left channel a tone, right channel silent: a seek that lands between the two samples of
    // a frame would swap them.
    ffmpeg({"-f", "lavfi", "-i", "sine=duration=2:sample_rate=11780", "-af",
            "pan=stereo|c0=c0|c1=0*c0", "-f", "s16le", "voice.pcm"});
    ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=3:sample_rate=22050", "-f", "lavfi",
            "-i", "sine=frequency=880:duration=3:sample_rate=48000", "-map", "0", "-map", "1",
            "-c:a", "aac", "two.mka"});
    QFile srt(path("subs.srt"));
    QVERIFY(srt.open(QIODevice::WriteOnly));
    srt.write("1\n00:00:00,200 --> 00:00:01,500\nHello\n\n");
    srt.close();
    ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=2", "-i",
                       "subs.srt"} +
           x264 + QStringList{"-c:s", "mov_text", "subs.mp4"});

    // A file cut short after its index, one cut before it, and bytes of no format at all.
    QFile full(path("av.mp4"));
    QVERIFY(full.open(QIODevice::ReadOnly));
    const QByteArray bytes = full.readAll();
    for (auto [name, size] : {std::pair{"cut.mp4", bytes.size() * 6 / 10}, {"trunc.mp4", 0}}) {
        QFile f(path(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(size ? bytes.left(size) : QByteArray());
    }
    QFile moovLast(path("moovlast.mp4"));
    ffmpeg(QStringList{"-i", "av.mp4", "-c", "copy", "moovlast.mp4"});
    QVERIFY(moovLast.open(QIODevice::ReadWrite));
    moovLast.resize(moovLast.size() / 2);
    QFile garbage(path("garbage.mp4"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    QByteArray noise(20000, '\0');
    for (int i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + i / 13) & 0xff);
    garbage.write(noise);
}

void TestAVPlayer::picturesAreAlignedAndCropped_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<bool>("hardware");
    QTest::newRow("1000x562") << "v1000.mp4" << 1008 << 560 << false;
    QTest::newRow("1920x1080") << "v1080.mp4" << 1920 << 1072 << false;
    QTest::newRow("320x240 with audio") << "av.mp4" << 320 << 240 << false;
    // Without a Quick Sync decoder the default one takes over.
    QTest::newRow("hardware acceleration unavailable") << "av.mp4" << 320 << 240 << true;
}

void TestAVPlayer::picturesAreAlignedAndCropped()
{
    QFETCH(QString, file);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(bool, hardware);
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.setHardwareAccelerated(hardware);
    QStringList warnings;
    connect(
        &player, &TAVPlayer::OnLog, this,
        [&](TAVPlayer*, int, const QString& text) { warnings << text; }, Qt::DirectConnection);
    player.OpenMovie(m_dir.filePath(file), false, true);
    QVERIFY(player.Playing());
    QCOMPARE(player.VideoStreamCount(), 1);
    QCOMPARE(player.VideoStreamIndex(), 0);
    double lastPts = -1;
    for (int i = 0; i < 6; ++i) {
        const std::optional<Picture> pic = takePicture(player);
        QVERIFY(pic);
        QCOMPARE(pic->format, int(AV_PIX_FMT_BGRA));
        QCOMPARE(pic->width, width);
        QCOMPARE(pic->height, height);
        QCOMPARE(pic->slotWidth, width);
        QCOMPARE(pic->slotHeight, height);
        QVERIFY(pic->pts > lastPts);
        lastPts = pic->pts;
    }
    QCOMPARE(player.VideoWidth(), width);
    QCOMPARE(player.VideoHeight(), height);
    player.CloseMovie();
    // Frames declare the width the chain expects, so its source never warns about a change.
    QVERIFY2(warnings.filter(QStringLiteral("frame properties")).isEmpty(),
             qPrintable(warnings.join(QString())));
    QVERIFY(!player.Playing());
    QVERIFY(!player.PictureQueue());
}

void TestAVPlayer::audioFillsSampleQueue_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("duration");
    // AAC declares its layout at open: the chain keeps rate and channels. The WAV decoder
    // names its layout only with the first frame, which rebuilds the chain for the output.
    QTest::newRow("aac in mp4") << "av.mp4" << 44100 << 1 << 3.0;
    QTest::newRow("wav") << "tone.wav" << 44100 << 2 << 1.5;
}

void TestAVPlayer::audioFillsSampleQueue()
{
    QFETCH(QString, file);
    QFETCH(int, rate);
    QFETCH(int, channels);
    QFETCH(double, duration);
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    QStringList warnings;
    connect(
        &player, &TAVPlayer::OnLog, this,
        [&](TAVPlayer*, int, const QString& text) { warnings << text; }, Qt::DirectConnection);
    player.OpenMovie(m_dir.filePath(file), false, true);
    QVERIFY(std::fabs(player.Duration() - duration) < 0.1);
    QCOMPARE(player.AudioStreamCount(), 1);
    QVERIFY(player.AudioCodecCtx());
    double lastPts = -1;
    for (int i = 0; i < 12; ++i) {
        const std::optional<Samples> s = takeSamples(player);
        QVERIFY(s);
        QCOMPARE(s->format, int(AV_SAMPLE_FMT_S16));
        QCOMPARE(s->sampleRate, rate);
        QCOMPARE(s->channels, channels);
        QVERIFY(s->pts > lastPts);
        lastPts = s->pts;
        if (file.endsWith(QLatin1String(".mp4")))
            QVERIFY(takePicture(player)); // keep the video side moving
    }
    // Clean media and a rebuilt chain log no warnings.
    player.CloseMovie();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QString())));
}

// Raw samples of 11780 Hz stereo: the demuxer must know the rate and channel count too, or
// the duration and positions come out as those of 44100 Hz mono.
void TestAVPlayer::rawSamplesUseRateAndChannels()
{
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.setInputFormat(QStringLiteral(" s16le "));
    player.setOptions({QStringLiteral("ar=11780"), QStringLiteral("ac=2")});
    player.OpenMovie(path("voice.pcm"), false, true);
    QVERIFY2(std::fabs(player.Duration() - 2.0) < 0.01,
             qPrintable(QString::number(player.Duration())));
    QCOMPARE(player.AudioCodecCtx()->sample_rate, 11780);
    QCOMPARE(player.AudioCodecCtx()->ch_layout.nb_channels, 2);
    double lastPts = 0;
    for (;;) {
        const std::optional<Samples> s = takeSamples(player, 1000);
        if (!s)
            break;
        QCOMPARE(s->channels, 2);
        lastPts = s->pts;
    }
    // The last block starts shortly before the end of the two seconds.
    QVERIFY2(lastPts > 1.8 && lastPts < 2.0, qPrintable(QString::number(lastPts)));
    QVERIFY(player.PlaybackFinished());

    // Seeks land on whole sample frames: the channels never swap.
    for (double target : {1.0, 0.3331, 1.5017, 0.7003}) {
        const int serial = player.AudioQueue()->Serial();
        player.setPosition(target);
        QVERIFY(pollUntil([&] { return player.AudioQueue()->Serial() > serial; }, 2000));
        const std::optional<Samples> s = takeSamples(player);
        QVERIFY(s);
        QVERIFY2(std::fabs(s->pts - target) < 0.05, qPrintable(QString::number(s->pts)));
        QVERIFY2(s->leftPeak > 1000 && s->rightPeak < 100,
                 qPrintable(QStringLiteral("%1 %2").arg(s->leftPeak).arg(s->rightPeak)));
    }
}

void TestAVPlayer::seekRaisesSerialsAndMoves()
{
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.OpenMovie(path("av.mp4"), false, true);
    const std::optional<Picture> first = takePicture(player);
    QVERIFY(first);
    QVERIFY(first->pts < 0.5);
    const int videoSerial = player.VideoQueue()->Serial();
    const int audioSerial = player.AudioQueue()->Serial();

    player.setPosition(2.0);
    QVERIFY(pollUntil([&] { return player.VideoQueue()->Serial() > videoSerial; }, 2000));
    QCOMPARE(player.VideoQueue()->Serial(), videoSerial + 1);
    QCOMPARE(player.AudioQueue()->Serial(), audioSerial + 1);

    const std::optional<Picture> pic = takePicture(player);
    QVERIFY(pic);
    QCOMPARE(pic->serial, videoSerial + 1);
    // Key frames come every 0.4 s, so the seek lands at most that far before the target.
    QVERIFY2(pic->pts >= 1.55 && pic->pts <= 2.05, qPrintable(QString::number(pic->pts)));
    const std::optional<Samples> s = takeSamples(player);
    QVERIFY(s);
    QVERIFY2(s->pts >= 1.5 && s->pts <= 2.1, qPrintable(QString::number(s->pts)));
}

void TestAVPlayer::endOfInputMarkerOnce()
{
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.OpenMovie(path("tone.wav"), false, true);
    QVERIFY(pollUntil(
        [&] {
            takeSamples(player, 0);
            return player.PlaybackFinished();
        },
        5000));
    player.clearPlaybackFinished();
    // Null packets keep coming every 10 ms after the end; the marker does not.
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300) {
        takeSamples(player, 10);
        QVERIFY(!player.PlaybackFinished());
    }
    QVERIFY(player.Playing());
}

void TestAVPlayer::attachedPictureAfterOpenAndSeek()
{
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.OpenMovie(path("cover.mp3"), false, true);
    QCOMPARE(player.VideoStreamCount(), 1);
    QCOMPARE(player.AudioStreamCount(), 1);
    std::optional<Picture> pic = takePicture(player);
    QVERIFY(pic);
    QCOMPARE(pic->width, 64);
    QCOMPARE(pic->height, 48);
    QCOMPARE(pic->format, int(AV_PIX_FMT_BGRA));
    // Audio flows although the video queue never fills.
    for (int i = 0; i < 12; ++i)
        QVERIFY(takeSamples(player));
    QVERIFY(!takePicture(player, 200)); // queued once

    const int serial = player.VideoQueue()->Serial();
    player.setPosition(1.0);
    QVERIFY(pollUntil([&] { return player.VideoQueue()->Serial() > serial; }, 2000));
    pic = takePicture(player);
    QVERIFY(pic);
    QCOMPARE(pic->serial, serial + 1);
    QCOMPARE(pic->width, 64);
}

void TestAVPlayer::subtitleStreamIsListed()
{
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.OpenMovie(path("subs.mp4"), false, true);
    QCOMPARE(player.SubtitleStreamCount(), 1);
    QCOMPARE(player.SubtitleStreamIndex(), 0);
    QCOMPARE(player.SubtitleStreamProperties().front()->CodecName(), QStringLiteral("mov_text"));
    // Container metadata first, then that of the selected streams.
    const QStringList metadata = player.Metadatas();
    QVERIFY2(metadata.value(0) == QStringLiteral("major_brand=isom"),
             qPrintable(metadata.join(',')));
    QVERIFY(metadata.contains(QStringLiteral("handler_name=SubtitleHandler")));
    // Text subtitles are decoded and ignored; the pictures keep coming.
    for (int i = 0; i < 30; ++i)
        QVERIFY(takePicture(player));
    QCOMPARE(player.SubtitleFrameQueue()->nb_remaining(), 0);

    TAVPlayer noSubs;
    noSubs.setDisableSubtitle(true);
    noSubs.OpenMovie(path("subs.mp4"), false, true);
    QCOMPARE(noSubs.SubtitleStreamIndex(), -1);
}

void TestAVPlayer::audioStreamSwap()
{
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.OpenMovie(path("two.mka"), false, true);
    QCOMPARE(player.AudioStreamCount(), 2);
    QCOMPARE(player.AudioStreamIndex(), 0);
    std::optional<Samples> s = takeSamples(player);
    QVERIFY(s);
    QCOMPARE(s->sampleRate, 22050);
    QVERIFY_THROWS_EXCEPTION(Error, player.setVideoStreamIndex(0)); // no video is open
    QVERIFY_THROWS_EXCEPTION(Error, player.setAudioStreamIndex(2));
    player.setAudioStreamIndex(0); // the same: nothing
    player.setAudioStreamIndex(1);
    QCOMPARE(player.AudioStreamIndex(), 1);
    // The read thread swaps decoders; the samples of the second stream follow.
    QVERIFY(pollUntil(
        [&] {
            s = takeSamples(player, 0);
            return s && s->sampleRate == 48000;
        },
        5000));
    QVERIFY(s->pts < 0.5); // restarted from the saved position
    QCOMPARE(player.AudioStreamIndex(), 1);
}

void TestAVPlayer::playRange_data()
{
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<double>("duration");
    QTest::addColumn<double>("firstPts");
    const qint64 unset = AV_NOPTS_VALUE;
    QTest::newRow("end time") << unset << qint64(1000000) << 1.0 << 0.0;
    QTest::newRow("start time") << qint64(1000000) << unset << 0.5 << 1.0;
    QTest::newRow("both") << qint64(500000) << qint64(1000000) << 0.5 << 0.5;
}

void TestAVPlayer::durationUnknownReadsZero_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<qint64>("end");
    QTest::addColumn<double>("duration");
    QTest::addColumn<bool>("infinite");
    const qint64 unset = AV_NOPTS_VALUE;
    QTest::newRow("mp4") << "av.mp4" << unset << unset << 3.0 << false;
    QTest::newRow("raw h264") << "raw.h264" << unset << unset << 0.0 << true;
    QTest::newRow("raw mjpeg") << "raw.mjpeg" << unset << unset << 0.0 << true;
    QTest::newRow("live matroska") << "live.mkv" << unset << unset << 0.0 << true;
    QTest::newRow("live matroska, start time")
        << "live.mkv" << qint64(500000) << unset << 0.0 << true;
    // An end time gives the range a length even without the container's.
    QTest::newRow("live matroska, end time")
        << "live.mkv" << unset << qint64(1500000) << 1.5 << true;
}

// Media without a container duration report 0 (unknown), not AV_NOPTS_VALUE's -9.2e12 s.
void TestAVPlayer::durationUnknownReadsZero()
{
    QFETCH(QString, file);
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(double, duration);
    QFETCH(bool, infinite);
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.setStartTime(start);
    player.setEndTime(end);
    player.OpenMovie(path(file.toUtf8().constData()), false, true);
    QVERIFY2(std::fabs(player.Duration() - duration) < 0.05,
             qPrintable(QString::number(player.Duration())));
    QCOMPARE(player.Infinite(), infinite);
    QVERIFY(takePicture(player));
}

void TestAVPlayer::playRange()
{
    QFETCH(qint64, start);
    QFETCH(qint64, end);
    QFETCH(double, duration);
    QFETCH(double, firstPts);
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.setStartTime(start);
    player.setEndTime(end);
    player.OpenMovie(path("tone.wav"), false, true);
    QVERIFY(std::fabs(player.Duration() - duration) < 0.01);
    std::optional<Samples> s = takeSamples(player);
    QVERIFY(s);
    QVERIFY2(std::fabs(s->pts - firstPts) < 0.1, qPrintable(QString::number(s->pts)));
    const double last = end == AV_NOPTS_VALUE ? 1.5 : end / 1e6;
    QVERIFY(pollUntil(
        [&] {
            if ((s = takeSamples(player, 0)))
                [&] { QVERIFY2(s->pts < last, qPrintable(QString::number(s->pts))); }();
            return player.PlaybackFinished();
        },
        5000));
    // The end is reported once, although reading goes on to the end of the file.
    player.clearPlaybackFinished();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 300) {
        takeSamples(player, 10);
        QVERIFY(!player.PlaybackFinished());
    }
}

void TestAVPlayer::optionRouting_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("error"); // empty: opens
    QTest::newRow("unknown name ignored") << QStringList{"no_such_option=1"} << QString();
    QTest::newRow("decoder option") << QStringList{"threads=2", "flags2=+fast"} << QString();
    QTest::newRow("container option it uses") << QStringList{"probesize=100000"} << QString();
    QTest::newRow("container option it does not use")
        << QStringList{"sample_rate=8000"} << QStringLiteral("Option sample_rate not found!");
    QTest::newRow("line without value") << QStringList{"justaname"} << QString();
}

void TestAVPlayer::optionRouting()
{
    QFETCH(QStringList, options);
    QFETCH(QString, error);
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.setOptions(options);
    try {
        player.OpenMovie(path("av.mp4"), false, true);
        QVERIFY2(error.isEmpty(), "the open should have failed");
        QVERIFY(takePicture(player));
    } catch (const Error& e) {
        QVERIFY2(!error.isEmpty(), qPrintable(e.message()));
        QVERIFY2(e.message().startsWith(QStringLiteral("Failed to open the file:") + error),
                 qPrintable(e.message()));
        QVERIFY(!player.Playing());
    }
}

void TestAVPlayer::openFailures_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing file") << "nothing-here.mp4" << QString()
                                  << "Can not open file %1 with error!";
    QTest::newRow("empty file") << "trunc.mp4" << QString() << "Can not open file %1 with error!";
    QTest::newRow("garbage") << "garbage.mp4" << QString() << "Can not open file %1 with error!";
    QTest::newRow("index cut off")
        << "moovlast.mp4" << QString() << "Can not open file %1 with error!";
    QTest::newRow("no audio or video") << "subs.srt" << QString() << "Could not open codecs";
    QTest::newRow("forced format that does not fit") << "cover.png"
                                                     << "mp3"
                                                     << "Can not open file %1 with error!";
}

void TestAVPlayer::openFailures()
{
    QFETCH(QString, file);
    QFETCH(QString, format);
    QFETCH(QString, message);
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.setInputFormat(format);
    const QString name = m_dir.filePath(file);
    try {
        player.OpenMovie(name, false, true);
        QFAIL("the open should have failed");
    } catch (const Error& e) {
        const QString expected =
            QStringLiteral("Failed to open the file:") +
            (message.contains(QLatin1String("%1")) ? message.arg(name) : message);
        QVERIFY2(e.message().startsWith(expected), qPrintable(e.message()));
    }
    QVERIFY(!player.Playing());
    // Nothing of the failed open is left behind.
    QVERIFY(!player.PictureQueue() && !player.SampleQueue() && !player.AudioQueue());
    QCOMPARE(player.AudioStreamCount() + player.VideoStreamCount(), 0);
    // The player stays usable.
    player.setInputFormat(QString());
    player.OpenMovie(path("tone.wav"), false, true);
    QVERIFY(takeSamples(player));
}

void TestAVPlayer::truncatedFilePlaysWhatItCan()
{
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    try {
        player.OpenMovie(path("cut.mp4"), false, true);
    } catch (const Error& e) {
        QFAIL(qPrintable(e.message()));
    }
    int pictures = 0;
    QVERIFY(pollUntil(
        [&] {
            if (takePicture(player, 0))
                ++pictures;
            takeSamples(player, 0);
            return player.PlaybackFinished();
        },
        10000));
    QVERIFY(pictures > 0);
    QElapsedTimer t;
    t.start();
    player.CloseMovie();
    QVERIFY(t.elapsed() < 1000);
}

void TestAVPlayer::closeJoinsQuickly_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("consumeMs");
    QTest::newRow("queues full") << "av.mp4" << 0;
    QTest::newRow("while reading") << "av.mp4" << 100;
    QTest::newRow("after the end") << "tone.wav" << 1500;
    QTest::newRow("cover picture") << "cover.mp3" << 50;
}

void TestAVPlayer::closeJoinsQuickly()
{
    QFETCH(QString, file);
    QFETCH(int, consumeMs);
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.OpenMovie(m_dir.filePath(file), false, true);
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < consumeMs) {
        if (player.PictureQueue())
            takePicture(player, 0);
        takeSamples(player, 1);
    }
    t.restart();
    player.CloseMovie();
    QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    QVERIFY(!player.Playing());
    player.CloseMovie(); // twice: nothing
}

// A read that takes longer than Timeout fails like the end of the input; closing breaks off
// a pending read at once.
void TestAVPlayer::stalledNetworkInput()
{
    QFile wav(path("tone.wav"));
    QVERIFY(wav.open(QIODevice::ReadOnly));
    const QByteArray head = wav.read(44 + 22050); // half a second of samples
    for (bool closeEarly : {false, true}) {
        StallingServer server(head);
        TAVPlayer player;
        player.setOutputEnabled(false); // this test reads the queues itself
        player.setTimeout(1);
        player.setInputFormat(QStringLiteral("wav"));
        player.setOptions({QStringLiteral("probesize=4096")});
        player.OpenMovie(server.url(), false, true);
        QVERIFY(takeSamples(player));
        if (closeEarly) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        } else {
            QElapsedTimer t;
            t.start();
            QVERIFY(pollUntil(
                [&] {
                    takeSamples(player, 0);
                    return player.PlaybackFinished();
                },
                5000));
            QVERIFY2(t.elapsed() > 500, qPrintable(QString::number(t.elapsed())));
        }
        QElapsedTimer t;
        t.start();
        player.CloseMovie();
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    }
}

void TestAVPlayer::logLinesGoToTheirPlayer()
{
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    QSignalSpy spy(&player, &TAVPlayer::OnLog);
    // No entry for this thread: the line is dropped.
    av_log(nullptr, AV_LOG_ERROR, "unrouted %d\n", 1);
    QCOMPARE(spy.count(), 0);
    {
        LoggerEntry entry(&player);
        av_log(nullptr, AV_LOG_ERROR, "routed %d\n", 2);
        av_log(nullptr, AV_LOG_INFO, "below the level\n");
        std::thread other([] { av_log(nullptr, AV_LOG_ERROR, "other thread\n"); });
        other.join();
    }
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(1).toInt(), AV_LOG_ERROR);
    QCOMPARE(spy.at(0).at(2).toString(), QStringLiteral("routed 2\n"));
    QCOMPARE(player.LastErrorMessage(), QStringLiteral("routed 2\n"));

    // The threads of an open media log to their player.
    player.setLogLevel(llDebug);
    player.OpenMovie(path("av.mp4"), false, true);
    QVERIFY(takePicture(player));
    player.CloseMovie();
    QVERIFY(spy.count() > 1);
    QCOMPARE(player.GetLevel(), AV_LOG_DEBUG);
}

void TestAVPlayer::reopenKeepsConfiguration()
{
    TAVPlayer player;
    player.setOutputEnabled(false); // this test reads the queues itself
    player.setInputFormat(QStringLiteral("s16le"));
    player.setOptions({QStringLiteral("ar=11780"), QStringLiteral("ac=2")});
    player.OpenMovie(path("voice.pcm"), false, true);
    QVERIFY(takeSamples(player));
    // Opening again closes the first media completely and applies the same settings.
    player.OpenMovie(path("voice.pcm"), false, true);
    QVERIFY(std::fabs(player.Duration() - 2.0) < 0.01);
    QVERIFY(takeSamples(player));
    // An ordinary file with the raw options still opens once the format is probed again.
    player.setInputFormat(QString());
    player.OpenMovie(path("av.mp4"), false, true);
    QVERIFY(takePicture(player));
}

QTEST_GUILESS_MAIN(TestAVPlayer)
#include "tst_avplayer.moc"
