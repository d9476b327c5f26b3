// The player with its displays: pictures reach the first display on the UI thread, the
// player's states and events, and where a display paints.
#include "TestSupport.h"
#include "player/AVPlayer.h"
#include "player/TAVView.h"
#include "util/Error.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

bool hasPicture(const QImage& image)
{
    if (image.isNull())
        return false;
    for (int y = 0; y < image.height(); y += 7)
        for (int x = 0; x < image.width(); x += 7)
            if ((image.pixel(x, y) & 0xFFFFFF) != 0)
                return true;
    return false;
}

} // namespace

class TestAVView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fitRect_data();
    void fitRect();
    void formatMediaTime_data();
    void formatMediaTime();
    void onlyTheFirstDisplayDraws();
    void coverImageForAudioOnly();
    void drawVideoIntoHostImage();
    void bitmapCarrier();
    void seekWhilePlayingAndPaused();
    void loopRestarts();
    void openFailures();
    void reopenAndDestroy();

private:
    QString path(const QString& name) const { return m_dir.filePath(name); }
    void ffmpeg(const QStringList& args);
    QTemporaryDir m_dir;
};

void TestAVView::ffmpeg(const QStringList& args)
{
    QProcess p;
    p.setWorkingDirectory(m_dir.path());
    p.start(QStringLiteral("ffmpeg"), QStringList{"-y", "-v", "error"} + args);
    QVERIFY(p.waitForFinished(60000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
}

void TestAVView::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QStringList x264{"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"};
    ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=4", "-f",
                       "lavfi", "-i", "sine=frequency=440:duration=4", "-g", "10"} +
           x264 + QStringList{"-c:a", "aac", "av.mp4"});
    ffmpeg(QStringList{"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=1", "-f",
                       "lavfi", "-i", "sine=duration=1"} +
           x264 + QStringList{"-c:a", "aac", "short.mp4"});
    ffmpeg(QStringList{"-f", "lavfi", "-i", "sine=duration=3", "-c:a", "aac", "tone.m4a"});
}

void TestAVView::fitRect_data()
{
    QTest::addColumn<QSize>("control");
    QTest::addColumn<QSize>("bitmap");
    QTest::addColumn<int>("sarNum");
    QTest::addColumn<int>("sarDen");
    QTest::addColumn<QRect>("expected");
    QTest::newRow("wide picture, square pixels 0/1")
        << QSize(400, 300) << QSize(1920, 1072) << 0 << 1 << QRect(0, 39, 400, 222);
    QTest::newRow("tall control limits the height")
        << QSize(800, 200) << QSize(320, 240) << 1 << 1 << QRect(267, 0, 266, 200);
    QTest::newRow("anamorphic 4:3 pixels")
        << QSize(640, 480) << QSize(480, 480) << 4 << 3 << QRect(0, 0, 640, 480);
    QTest::newRow("empty control: natural size")
        << QSize(0, 0) << QSize(320, 240) << 1 << 1 << QRect(0, 0, 320, 240);
}

void TestAVView::fitRect()
{
    QFETCH(QSize, control);
    QFETCH(QSize, bitmap);
    QFETCH(int, sarNum);
    QFETCH(int, sarDen);
    QFETCH(QRect, expected);
    QCOMPARE(FitRect(control, bitmap, AVRational{sarNum, sarDen}), expected);
}

void TestAVView::formatMediaTime_data()
{
    QTest::addColumn<bool>("compact");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("full, 5 ms") << false << 3725.005 << "01:02:05.05";
    QTest::newRow("full, 500 ms") << false << 61.5 << "00:01:01.500";
    QTest::newRow("compact with hours") << true << 3725.9 << "01:02:05";
    QTest::newRow("compact minutes") << true << 65.0 << "1:5";
}

void TestAVView::formatMediaTime()
{
    QFETCH(bool, compact);
    QFETCH(double, seconds);
    QFETCH(QString, expected);
    QCOMPARE(FormatMediaTime(compact, seconds), expected);
}

void TestAVView::onlyTheFirstDisplayDraws()
{
    TAVPlayer player;
    TAVView first, second;
    first.setPlayer(&player);
    second.setPlayer(&player);
    QSignalSpy started(&player, &TAVPlayer::OnStart);
    player.OpenMovie(path("av.mp4"), false, true);
    QCOMPARE(started.count(), 1);
    QVERIFY(waitUntil([&] { return hasPicture(first.Bitmap()); }, 5000));
    QVERIFY(waitUntil([&] { return player.FramesShown() > 20; }, 5000));
    QCOMPARE(first.Bitmap().size(), QSize(320, 240));
    QCOMPARE(second.Bitmap().size(), QSize(320, 240));
    QVERIFY(!hasPicture(second.Bitmap())); // still the black of the reset
    QCOMPARE(player.FramesDropped(), 0);
}

void TestAVView::coverImageForAudioOnly()
{
    TAVPlayer player;
    TAVView view;
    view.setPlayer(&player);
    player.OpenMovie(path("tone.m4a"), false, true);
    QTest::qWait(300);
    QVERIFY(view.Bitmap().isNull()); // no cover: the display stays empty
    player.CloseMovie();

    // 100 pixels wide, not a multiple of 16: the whole width is drawn.
    QImage cover(100, 60, QImage::Format_RGB32);
    cover.fill(QColor(200, 30, 40));
    player.setCoverImage(cover);
    QCOMPARE(view.Bitmap().size(), QSize(100, 60));
    cover.fill(Qt::white); // the player keeps its own copy
    player.OpenMovie(path("tone.m4a"), false, true);
    QCOMPARE(view.Bitmap().size(), QSize(100, 60));
    QVERIFY(waitUntil([&] { return hasPicture(view.Bitmap()); }, 3000));
    for (const QPoint& p : {QPoint(0, 0), QPoint(99, 59), QPoint(50, 30)})
        QCOMPARE(view.Bitmap().pixelColor(p), QColor(200, 30, 40));
    // Redrawn about every 120 ms while playing.
    const int64_t shown = player.FramesShown();
    QTest::qWait(1000);
    const int64_t perSecond = player.FramesShown() - shown;
    QVERIFY2(perSecond >= 3 && perSecond <= 10, QByteArray::number(qlonglong(perSecond)));
    player.CloseMovie();
    QVERIFY(view.Bitmap().isNull());
}

void TestAVView::drawVideoIntoHostImage()
{
    TAVPlayer player;
    // A 3 x 2 BGRA picture whose rows are padded to 16 bytes, alpha left empty.
    FramePointer frame(av_frame_alloc());
    frame->width = 3;
    frame->height = 2;
    frame->format = AV_PIX_FMT_BGRA;
    QVERIFY(av_frame_get_buffer(frame.get(), 16) == 0);
    QCOMPARE(frame->linesize[0], 16);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            uint8_t* px = frame->data[0] + y * frame->linesize[0] + x * 4;
            px[0] = uint8_t(10 * x);      // blue
            px[1] = uint8_t(100 + y);     // green
            px[2] = uint8_t(200 + x + y); // red
            px[3] = 0;
        }
    QImage host(50, 50, QImage::Format_Mono);
    player.DrawVideo(host, frame.get());
    QCOMPARE(host.size(), QSize(3, 2));
    QCOMPARE(host.pixel(2, 1), qRgb(203, 101, 20));
    QCOMPARE(host.pixel(0, 0), qRgb(200, 100, 0));

    player.setRGBMode(false);
    try {
        player.DrawVideo(host, frame.get());
        QFAIL("drew without RGB mode");
    } catch (const Error& e) {
        QCOMPARE(e.message(), QStringLiteral("TAVView only support RGB Mode"));
    }

    // As a host does it: every picture handed over, drawn into an image of its own.
    player.setRGBMode(true);
    QImage shown;
    connect(&player, &TAVPlayer::OnVideoDisplay, this,
            [&](TAVPlayer* p, const AVFrame* f) { p->DrawVideo(shown, f); });
    TAVView view; // takes the pictures after the handler saw them
    view.setPlayer(&player);
    player.OpenMovie(path("av.mp4"), false, true);
    QVERIFY(waitUntil([&] { return hasPicture(shown); }, 5000));
    QCOMPARE(shown.size(), QSize(320, 240));
}

void TestAVView::bitmapCarrier()
{
    uint8_t buffer[3 * 2 * 4];
    for (int i = 0; i < int(sizeof buffer); ++i)
        buffer[i] = uint8_t(i * 7);
    TAVBitmap carrier;
    carrier.Create(buffer, 3, 2);

    QImage image;
    carrier.CopyDataToBitmap(image);
    QCOMPARE(image.size(), QSize(3, 2));
    QCOMPARE(image.pixel(1, 1), qRgba(buffer[18], buffer[17], buffer[16], buffer[19]));

    // A 24-bit picture comes back as BGRA bytes.
    QImage rgb(3, 2, QImage::Format_RGB888);
    rgb.fill(QColor(1, 2, 3));
    carrier.CopyDataFromBitmap(rgb);
    QCOMPARE(buffer[20], uint8_t(3));
    QCOMPARE(buffer[21], uint8_t(2));
    QCOMPARE(buffer[22], uint8_t(1));

    // A picture of another size copies nothing.
    const QByteArray before(reinterpret_cast<const char*>(buffer), sizeof buffer);
    for (const auto& [size, message] : {std::pair{QSize(4, 2), "Bitmap Width incorrect"},
                                        {QSize(3, 3), "Bitmap Height incorrect"}}) {
        QImage other(size, QImage::Format_ARGB32);
        other.fill(Qt::white);
        try {
            carrier.CopyDataFromBitmap(other);
            QFAIL("copied a picture of another size");
        } catch (const Error& e) {
            QCOMPARE(e.message(), QString::fromLatin1(message));
        }
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer), sizeof buffer), before);
    }
}

void TestAVView::seekWhilePlayingAndPaused()
{
    TAVPlayer player;
    TAVView view;
    view.setPlayer(&player);
    player.OpenMovie(path("av.mp4"), false, true);
    QVERIFY(waitUntil([&] { return player.Position() > 0.2; }, 5000));
    player.setPosition(2.5);
    QVERIFY(waitUntil([&] { return player.Position() >= 2.4; }, 3000));
    QVERIFY(player.Position() <= player.Duration());

    player.Pause();
    QTest::qWait(100);
    double shownPts = -1;
    connect(&player, &TAVPlayer::OnVideoDisplay, this, [&](TAVPlayer*, const AVFrame* f) {
        shownPts = f->pts * av_q2d(player.VideoCodecCtx()->pkt_timebase);
    });
    player.setPosition(1.0);
    QVERIFY(waitUntil([&] { return std::fabs(shownPts - 1.0) < 0.45; }, 3000));
    QTest::qWait(300);
    QVERIFY(player.Paused());
    QVERIFY(std::fabs(player.Position() - 1.0) < 0.45);
}

void TestAVView::loopRestarts()
{
    TAVPlayer player;
    player.setLoop(true);
    QSignalSpy finished(&player, &TAVPlayer::OnPlaybackFinished);
    player.OpenMovie(path("short.mp4"), false, true);
    QVERIFY(finished.wait(5000));
    // The restart is a seek to 0 made by the state timer right away.
    QVERIFY(waitUntil([&] { return player.Position() < 0.3; }, 300));
    QVERIFY(waitUntil([&] { return player.Position() > 0.3; }, 2000));
    QVERIFY(player.Playing());
}

void TestAVView::openFailures()
{
    TAVPlayer player;
    const QString missing = path("missing.mp4");
    try {
        player.OpenMovie(missing, false, true);
        QFAIL("no exception");
    } catch (const Error& e) {
        QVERIFY2(
            QString::fromUtf8(e.what()).startsWith("Failed to open the file:Can not open file"),
            e.what());
    }
    QVERIFY(!player.Playing());

    QSignalSpy errors(&player, &TAVPlayer::OnConnectionError);
    QSignalSpy started(&player, &TAVPlayer::OnStart);
    player.OpenMovie(missing, false, false);
    QVERIFY(errors.wait(5000));
    QVERIFY(errors.at(0).at(1).toString().startsWith("Can not open file"));
    QCOMPARE(started.count(), 0);
    QVERIFY(!player.Playing());
    player.CloseMovie();
    QVERIFY(!player.Playing());

    // A non-blocking open that works.
    player.OpenMovie(path("av.mp4"), false, false);
    QVERIFY(started.wait(5000));
    QVERIFY(waitUntil([&] { return player.Position() > 0.1; }, 5000));
}

void TestAVView::reopenAndDestroy()
{
    auto player = std::make_unique<TAVPlayer>();
    TAVView view;
    view.setPlayer(player.get());
    player->OpenMovie(path("av.mp4"), false, true);
    QVERIFY(waitUntil([&] { return hasPicture(view.Bitmap()); }, 5000));
    player->OpenMovie(path("short.mp4"), false, true); // closes the first
    QCOMPARE(player->Duration() < 1.5, true);
    QVERIFY(waitUntil([&] { return view.Bitmap().size() == QSize(160, 112); }, 5000));
    player->CloseMovie();
    player->CloseMovie();
    QVERIFY(view.Bitmap().isNull());
    player->OpenMovie(path("av.mp4"), false, true);
    QVERIFY(waitUntil([&] { return hasPicture(view.Bitmap()); }, 5000));
    player.reset(); // destroyed while playing
    QVERIFY(view.Bitmap().isNull());
    QVERIFY(!view.Player());
}

QTEST_MAIN(TestAVView)
#include "tst_avview.moc"
