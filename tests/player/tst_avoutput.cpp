// Audio output through the mixer. SDL's disk driver writes the mixed device output to a file
// at about real time, so what a player played can be read back and measured.
#include "TestSupport.h"
#include "player/AVPlayer.h"
#include "util/Error.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Capture
{
    std::vector<int16_t> left, right;
    int firstLoud = -1; // first and last sample frame above the silence threshold
    int lastLoud = -1;
    int peak = 0;
};

} // namespace

class TestAVOutput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void tonePlaysAtItsFrequencyAndLength_data();
    void tonePlaysAtItsFrequencyAndLength();
    void pauseGivesSilence();
    void volumeChangesWhilePlaying();
    void positionStaysInRange();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    void ffmpeg(const QStringList& args);
    qint64 deviceBytes() const { return QFileInfo(m_diskFile).size(); }
    // The device output written between two byte offsets of the disk file.
    Capture captured(qint64 from, qint64 to) const;

    QTemporaryDir m_dir;
    QString m_diskFile;
};

void TestAVOutput::ffmpeg(const QStringList& args)
{
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(QStringLiteral("ffmpeg"), QStringList{"-y", "-v", "error"} + args);
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
}

Capture TestAVOutput::captured(qint64 from, qint64 to) const
{
    Capture c;
    QFile f(m_diskFile);
    if (!f.open(QIODevice::ReadOnly))
        return c;
    from &= ~qint64(3);
    f.seek(from);
    const QByteArray bytes = f.read(to - from);
    const auto* s = reinterpret_cast<const int16_t*>(bytes.constData());
    const int frames = int(bytes.size() / 4);
    for (int i = 0; i < frames; ++i) {
        c.left.push_back(s[2 * i]);
        c.right.push_back(s[2 * i + 1]);
        const int a = std::max(std::abs(int(s[2 * i])), std::abs(int(s[2 * i + 1])));
        c.peak = std::max(c.peak, a);
        if (a > 300) {
            if (c.firstLoud < 0)
                c.firstLoud = i;
            c.lastLoud = i;
        }
    }
    return c;
}

void TestAVOutput::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_diskFile = path(QStringLiteral("device.raw"));
    // Set before the first player opens the device.
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", m_diskFile.toUtf8());
    ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=1:sample_rate=44100", "-ac", "2",
            "tone440.wav"});
    ffmpeg(
        {"-f", "lavfi", "-i", "sine=frequency=440:duration=1:sample_rate=11780", "mono11780.wav"});
    ffmpeg({"-f", "lavfi", "-i", "sine=frequency=1000:duration=1:sample_rate=48000", "-c:a", "aac",
            "aac48k.m4a"});
    ffmpeg({"-f", "lavfi", "-i", "sine=frequency=440:duration=4", "long.wav"});
}

void TestAVOutput::tonePlaysAtItsFrequencyAndLength_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<double>("frequency");
    QTest::newRow("44100 Hz stereo") << "tone440.wav" << 440.0;
    QTest::newRow("11780 Hz mono") << "mono11780.wav" << 440.0;
    QTest::newRow("aac at 48000 Hz") << "aac48k.m4a" << 1000.0;
}

// The played tone keeps its pitch and length whatever the file's rate and channel count; the
// device output is 16-bit stereo at the device rate with both channels alike.
void TestAVOutput::tonePlaysAtItsFrequencyAndLength()
{
    QFETCH(QString, file);
    QFETCH(double, frequency);
    TAVPlayer player;
    std::mutex reportedLock;
    QByteArray reported; // what OnAudioBuffer saw, on the mixer's thread
    connect(
        &player, &TAVPlayer::OnAudioBuffer, this,
        [&](TAVPlayer*, const uint8_t* buf, int size) {
            std::lock_guard lock(reportedLock);
            reported.append(reinterpret_cast<const char*>(buf), size);
        },
        Qt::DirectConnection);
    const qint64 start = deviceBytes();
    player.OpenMovie(path(file), false, true);
    const TAudioParams target = player.AudioTarget();
    QCOMPARE(target.channels, 2);
    QCOMPARE(target.fmt, AV_SAMPLE_FMT_S16);
    QVERIFY(target.freq == 44100 || target.freq == 48000);
    // The decoder meets the end long before the device has played it all.
    QVERIFY(waitUntil([&] { return player.Position() >= player.Duration(); }, 5000));
    QTest::qWait(500); // the device buffer and the disk driver's pacing
    const qint64 end = deviceBytes();
    player.CloseMovie();

    const Capture c = captured(start, end);
    QVERIFY2(c.firstLoud >= 0, "nothing was played");
    const double seconds = double(c.lastLoud - c.firstLoud + 1) / target.freq;
    QVERIFY2(std::fabs(seconds - 1.0) < 0.03, qPrintable(QString::number(seconds)));
    for (int i = c.firstLoud; i <= c.lastLoud; ++i)
        QCOMPARE(c.left[i], c.right[i]);
    // The pitch over the middle half, away from the codec's ramps at either end.
    const int quarter = (c.lastLoud - c.firstLoud) / 4;
    int crossings = 0, first = -1, last = -1;
    for (int i = c.firstLoud + quarter; i <= c.lastLoud - quarter; ++i) {
        if ((c.left[i - 1] < 0) != (c.left[i] < 0)) {
            if (first < 0)
                first = i;
            else
                ++crossings;
            last = i;
        }
    }
    const double measured = crossings / 2.0 / (double(last - first) / target.freq);
    QVERIFY2(std::fabs(measured - frequency) < frequency * 0.01,
             qPrintable(QString::number(measured)));
    // Nothing after the end (past a codec's decaying last frame): the channel plays silence.
    for (int i = c.lastLoud + target.freq / 20; i < int(c.left.size()); ++i)
        QCOMPARE(c.left[i], int16_t(0));

    // OnAudioBuffer reported the played audio itself, in one piece, and none of the silence
    // the channel played before and after it (the effect's pieces do not line up with the
    // silence buffer, so its remainders come in later passes).
    std::lock_guard lock(reportedLock);
    QByteArray loud;
    for (int i = c.firstLoud; i <= c.lastLoud; ++i) {
        loud.append(reinterpret_cast<const char*>(&c.left[i]), 2);
        loud.append(reinterpret_cast<const char*>(&c.right[i]), 2);
    }
    QVERIFY(reported.indexOf(loud) >= 0);
    QVERIFY2(reported.size() < loud.size() + target.bytes_per_sec / 10,
             qPrintable(QString::number(reported.size() - loud.size())));
}

void TestAVOutput::pauseGivesSilence()
{
    TAVPlayer player;
    player.OpenMovie(path("long.wav"), false, true);
    QTest::qWait(500);
    player.Pause();
    player.Pause(); // a second Pause changes nothing
    QVERIFY(player.Paused());
    QTest::qWait(400); // what the device had queued before the pause drains
    const double pausedAt = player.Position();
    const qint64 from = deviceBytes();
    QTest::qWait(500);
    const Capture paused = captured(from, deviceBytes());
    QVERIFY(paused.left.size() > 10000);
    QCOMPARE(paused.peak, 0);
    QVERIFY(std::fabs(player.Position() - pausedAt) < 0.01);

    player.Play();
    player.Play();
    QVERIFY(!player.Paused());
    QTest::qWait(300);
    const qint64 resumed = deviceBytes();
    QTest::qWait(400);
    QVERIFY(captured(resumed, deviceBytes()).peak > 1000);
    QVERIFY(player.Position() > pausedAt + 0.2);
}

void TestAVOutput::volumeChangesWhilePlaying()
{
    TAVPlayer player;
    player.OpenMovie(path("long.wav"), false, true);
    QTest::qWait(300);
    qint64 from = deviceBytes();
    QTest::qWait(400);
    const int full = captured(from, deviceBytes()).peak;
    QVERIFY(full > 1000);
    player.setVolume(0.25);
    QTest::qWait(600);
    from = deviceBytes();
    QTest::qWait(400);
    const int quiet = captured(from, deviceBytes()).peak;
    QVERIFY2(std::abs(quiet - full / 4) < full / 20,
             qPrintable(QStringLiteral("%1 %2").arg(full).arg(quiet)));
}

void TestAVOutput::positionStaysInRange()
{
    TAVPlayer player;
    QCOMPARE(player.Position(), 0.0);
    player.setPosition(1.0); // nothing open: nothing happens
    QCOMPARE(player.Position(), 0.0);
    player.OpenMovie(path("tone440.wav"), false, true);
    double last = 0;
    QElapsedTimer t;
    t.start();
    while (!player.PlaybackFinished() && t.elapsed() < 5000) {
        const double p = player.Position();
        QVERIFY(p >= 0 && p <= player.Duration());
        // The audio clock is extrapolated from the last mixer callback; on a loaded machine a
        // late callback can pull it back by a few tens of milliseconds.
        QVERIFY2(p >= last - 0.05, qPrintable(QStringLiteral("%1 after %2").arg(p).arg(last)));
        last = p;
        QTest::qWait(20);
    }
    QVERIFY(waitUntil([&] { return player.Position() >= player.Duration(); }, 3000));
    QTest::qWait(300);
    QCOMPARE(player.Position(), player.Duration());
    player.CloseMovie();
    player.CloseMovie();
    QCOMPARE(player.Position(), 0.0);
}

QTEST_GUILESS_MAIN(TestAVOutput)
#include "tst_avoutput.moc"
