#include "TestSupport.h"
#include "app/Application.h"
#include "media/FormVideo.h"
#include "media/MediaDialogs.h"
#include "player/AVPlayer.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

class TestFormVideo : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void rawSamplesWhateverTheCase_data();
    void rawSamplesWhateverTheCase();
    void missingFileOpensNothing();
    void seekBarArmsOneSeek();
    void seekBarCountsMilliseconds_data();
    void seekBarCountsMilliseconds();
    void unknownDurationShowsPositionAlone();
    void pauseButtonFollowsThePlayer();
    void saveReplacesUnderThePhonesName();

private:
    QString makeMedia(const QString& name, const QStringList& args);
    QTemporaryDir m_dir;
    QStringList m_messages;
};

QString TestFormVideo::makeMedia(const QString& name, const QStringList& args)
{
    const QString path = m_dir.filePath(name);
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), QStringList{"-v", "error", "-y"} << args << path);
    if (!ffmpeg.waitForFinished(60000) || ffmpeg.exitCode() != 0)
        qWarning() << ffmpeg.readAllStandardError();
    return path;
}

void TestFormVideo::initTestCase()
{
    QVERIFY(m_dir.isValid());
    setMessageSink([this](const QString& text, bool) { m_messages << text; });
    // Three seconds of tone as the voice decoder writes them: s16le, stereo, 11780 Hz.
    for (const char* name : {"voice.pcm", "voice.PCM"})
        makeMedia(name, {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=11780:duration=3",
                         "-ac", "2", "-f", "s16le"});
    makeMedia("clip.mp4", {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=6",
                           "-pix_fmt", "yuv420p", "-c:v", "libx264"});
    // A voice message of 2 s, and a clip whose container holds no duration.
    makeMedia("short.pcm", {"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=11780:duration=2",
                            "-ac", "2", "-f", "s16le"});
    makeMedia("live.mkv", {"-f", "lavfi", "-i", "testsrc=size=160x120:rate=25:duration=4", "-f",
                           "lavfi", "-i", "sine=duration=4", "-pix_fmt", "yuv420p", "-c:v",
                           "libx264", "-c:a", "aac", "-f", "matroska", "-live", "1"});
    QVERIFY(QFile::exists(m_dir.filePath("voice.pcm")));
    QVERIFY(QFile::exists(m_dir.filePath("clip.mp4")));
}

void TestFormVideo::cleanup()
{
    setMediaFolderChooser({});
    m_messages.clear();
}

void TestFormVideo::rawSamplesWhateverTheCase_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("lower case") << "voice.pcm";
    QTest::newRow("capitals") << "voice.PCM";
}

void TestFormVideo::rawSamplesWhateverTheCase()
{
    QFETCH(QString, name);
    TExportFile file{m_dir.filePath(name), m_dir.filePath(name), {}};
    TFormVideo form(file);
    form.FormShow();
    // Read as 11780 Hz stereo the file lasts 3 s; with the raw defaults it would not.
    QVERIFY2(qAbs(form.Player->Duration() - 3.0) < 0.05,
             qPrintable(QString::number(form.Player->Duration())));
    QCOMPARE(form.Player->InputFormat(), QStringLiteral("s16le"));
    QVERIFY2(qAbs(form.tbDuration->maximum() - 3000) <= 50,
             qPrintable(QString::number(form.tbDuration->maximum())));
    form.tmrUpdateTimer();
    QVERIFY2(form.lblDuration->text().startsWith("Position:00:00:00."),
             qPrintable(form.lblDuration->text()));
    QVERIFY2(form.lblDuration->text().endsWith("/Duration:00:00:03.00"),
             qPrintable(form.lblDuration->text()));
}

void TestFormVideo::missingFileOpensNothing()
{
    TExportFile file{m_dir.filePath("absent.mp4"), m_dir.filePath("absent.mp4"), {}};
    TFormVideo form(file);
    form.FormShow();
    QCOMPARE(form.Player->Duration(), 0.0);
    QCOMPARE(form.Player->Position(), 0.0);
    QVERIFY(m_messages.isEmpty());
}

void TestFormVideo::seekBarArmsOneSeek()
{
    TExportFile file{m_dir.filePath("clip.mp4"), m_dir.filePath("clip.mp4"), {}};
    TFormVideo form(file);
    form.resize(640, 480);
    form.show(); // opens the clip from the event loop once the window is up
    QTRY_VERIFY_WITH_TIMEOUT(form.Player->Playing(), 5000);
    QVERIFY2(qAbs(form.tbDuration->maximum() - 6000) <= 50,
             qPrintable(QString::number(form.tbDuration->maximum())));

    // The right button arms nothing, and the timer alone never seeks.
    QTest::mousePress(form.tbDuration, Qt::RightButton);
    QTest::mouseRelease(form.tbDuration, Qt::RightButton);
    QVERIFY(!form.FUserDrag);
    form.tbDuration->setValue(4000);
    QVERIFY(form.Player->Position() < 2.0);

    // A left press arms one seek: the next change seeks there and disarms.
    form.tbDuration->setValue(0);
    QTest::mousePress(form.tbDuration, Qt::LeftButton, {},
                      QPoint(2, form.tbDuration->height() / 2));
    QVERIFY(form.FUserDrag);
    form.tbDuration->setValue(4000);
    QVERIFY(!form.FUserDrag);
    QTRY_VERIFY_WITH_TIMEOUT(form.Player->Position() >= 3.9, 3000);
    QTest::mouseRelease(form.tbDuration, Qt::LeftButton);
    form.tbDuration->setValue(1000);
    QTest::qWait(300);
    QVERIFY2(form.Player->Position() >= 3.9, qPrintable(QString::number(form.Player->Position())));
}

void TestFormVideo::seekBarCountsMilliseconds_data()
{
    QTest::addColumn<int>("target");
    QTest::newRow("0.75 s") << 750;
    QTest::newRow("1.25 s") << 1250;
    QTest::newRow("1.75 s") << 1750;
}

// In a voice message of 2 s the bar reaches every millisecond: a seek lands where the bar was
// set, and the timer puts the thumb where playing is, not on a whole second.
void TestFormVideo::seekBarCountsMilliseconds()
{
    QFETCH(int, target);
    TExportFile file{m_dir.filePath("short.pcm"), m_dir.filePath("short.pcm"), {}};
    TFormVideo form(file);
    form.FormShow();
    QVERIFY2(qAbs(form.tbDuration->maximum() - 2000) <= 20,
             qPrintable(QString::number(form.tbDuration->maximum())));
    form.Player->Pause();
    const double start = form.Player->Position();
    QTest::mousePress(form.tbDuration, Qt::LeftButton, {},
                      QPoint(2, form.tbDuration->height() / 2));
    QVERIFY(form.FUserDrag);
    form.tbDuration->setValue(target);
    QVERIFY(!form.FUserDrag);
    QTest::mouseRelease(form.tbDuration, Qt::LeftButton);
    // The position jumps to the target; playing there on its own would pass the times between.
    form.Player->Play();
    const double to = target / 1000.0;
    double between = -1;
    QVERIFY(waitUntil(
        [&] {
            const double p = form.Player->Position();
            if (p > start + 0.15 && p < to - 0.1)
                between = p;
            return p >= to - 0.05;
        },
        3000));
    QVERIFY2(between < 0, qPrintable(QStringLiteral("played through %1").arg(between)));
    form.Player->Pause();
    QTest::qWait(100); // the audio clock takes the last samples out before it stands
    const double at = form.Player->Position();
    QVERIFY2(at < target / 1000.0 + 0.3, qPrintable(QString::number(at)));
    form.tmrUpdateTimer();
    QVERIFY2(qAbs(form.tbDuration->value() - at * 1000) <= 20,
             qPrintable(QStringLiteral("%1 at %2").arg(form.tbDuration->value()).arg(at)));
}

// A clip whose container has no duration (Matroska written live): the bar has no range, the label
// shows the position alone, and the position goes on past 0.
void TestFormVideo::unknownDurationShowsPositionAlone()
{
    TExportFile file{m_dir.filePath("live.mkv"), m_dir.filePath("live.mkv"), {}};
    TFormVideo form(file);
    form.FormShow();
    QCOMPARE(form.Player->Duration(), 0.0);
    QCOMPARE(form.tbDuration->minimum(), 0);
    QCOMPARE(form.tbDuration->maximum(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(form.Player->Position() > 0.5, 5000);
    form.tmrUpdateTimer();
    static const QRegularExpression label(QStringLiteral("^Position:00:00:0\\d\\.\\d+$"));
    QVERIFY2(label.match(form.lblDuration->text()).hasMatch(),
             qPrintable(form.lblDuration->text()));
    QCOMPARE(form.tbDuration->value(), 0);
}

void TestFormVideo::pauseButtonFollowsThePlayer()
{
    TExportFile file{m_dir.filePath("clip.mp4"), m_dir.filePath("clip.mp4"), {}};
    TFormVideo form(file);
    form.FormShow();
    QCOMPARE(form.actPause->text(), QStringLiteral("Pause"));
    form.actPause->trigger();
    QVERIFY(form.Player->Paused());
    QCOMPARE(form.btnPause->text(), QStringLiteral("Play"));
    form.actPause->trigger();
    QVERIFY(!form.Player->Paused());
    QCOMPARE(form.btnPause->text(), QStringLiteral("Pause"));
}

void TestFormVideo::saveReplacesUnderThePhonesName()
{
    const QString target = m_dir.filePath("saved");
    QDir().mkpath(target);
    QFile old(QDir(target).filePath("IMG_0007.MOV"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old");
    old.close();
    // The stored copy is named by its key; the phone's name comes from dstFile.
    const QString stored = m_dir.filePath("0a1b2c3d");
    QVERIFY(QFile::copy(m_dir.filePath("clip.mp4"), stored));
    TExportFile file{stored, QStringLiteral("export/Media/DCIM/100APPLE/IMG_0007.MOV"), {}};
    TFormVideo form(file);
    QString title;
    setMediaFolderChooser([&](QWidget*, const QString& t) {
        title = t;
        return target;
    });
    form.btnSaveClick();
    QCOMPARE(title, QStringLiteral("Save Video To"));
    QCOMPARE(QFileInfo(old.fileName()).size(), QFileInfo(stored).size());
    QCOMPARE(m_messages, QStringList{"Export Video sucessfully"});
}

QTEST_MAIN(TestFormVideo)
#include "tst_formvideo.moc"
