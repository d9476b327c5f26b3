// The screen saver stays off while media plays unpaused, through a ScreenSaver service on a
// private session bus that this test runs.
#include "player/AVPlayer.h"
#include "player/KeepAwake.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <sys/prctl.h>

class FakeScreenSaver : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")
public:
    QStringList calls;
    uint lastCookie = 40;

public slots:
    uint Inhibit(const QString& app, const QString& reason)
    {
        calls << QStringLiteral("Inhibit %1: %2").arg(app, reason);
        return ++lastCookie;
    }
    void UnInhibit(uint cookie) { calls << QStringLiteral("UnInhibit %1").arg(cookie); }
};

class TestKeepAwake : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void followsPlayAndPause();
    void releasedOnDestruction();
    void withoutServiceNothingHappens();

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    FakeScreenSaver m_fake;
    QString m_address;
};

void TestKeepAwake::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_address = QStringLiteral("unix:path=") + m_dir.filePath("bus");
    // A configuration of its own: the system's session configuration may not be installed.
    QFile config(m_dir.filePath("bus.conf"));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                                "Configuration 1.0//EN\" "
                                "\"http://www.freedesktop.org/standards/dbus/1.0/"
                                "busconfig.dtd\">\n<busconfig><type>session</type>"
                                "<listen>%1</listen><policy context=\"default\">"
                                "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                                "<allow own=\"*\"/>"
                                "</policy></busconfig>\n")
                     .arg(m_address)
                     .toUtf8());
    config.close();
    // The bus goes with the test, also when the test dies.
    m_bus.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_bus.start(QStringLiteral("dbus-daemon"),
                {"--config-file=" + config.fileName(), "--nofork", "--nopidfile"});
    QVERIFY2(m_bus.waitForStarted(), "dbus-daemon is missing");
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_dir.filePath("bus")), 5000);
    // Before anything touches the session bus.
    qputenv("DBUS_SESSION_BUS_ADDRESS", m_address.toUtf8());
    QVERIFY(QDBusConnection::sessionBus().isConnected());

    QDBusConnection service = QDBusConnection::connectToBus(m_address, QStringLiteral("fake"));
    QVERIFY(service.isConnected());
    QVERIFY(service.registerService(QStringLiteral("org.freedesktop.ScreenSaver")));
    QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/ScreenSaver"), &m_fake,
                                   QDBusConnection::ExportAllSlots));

    QProcess ff;
    ff.start(QStringLiteral("ffmpeg"),
             {"-y", "-v", "error", "-f", "lavfi", "-i", "sine=duration=20", "-c:a", "aac",
              m_dir.filePath("tone.m4a")});
    QVERIFY(ff.waitForFinished(60000) && ff.exitCode() == 0);
}

void TestKeepAwake::cleanupTestCase()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("fake"));
    m_bus.kill();
    m_bus.waitForFinished();
}

void TestKeepAwake::followsPlayAndPause()
{
    m_fake.calls.clear();
    TAVPlayer player;
    player.KeepAwakeTick(); // nothing open
    QTest::qWait(200);
    QCOMPARE(m_fake.calls, QStringList());

    player.OpenMovie(m_dir.filePath("tone.m4a"), false, true);
    player.KeepAwakeTick();
    const QString inhibit =
        QStringLiteral("Inhibit %1: Playing media").arg(QCoreApplication::applicationName());
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.calls, QStringList{inhibit}, 5000);
    player.KeepAwakeTick(); // still playing: the one inhibition stays
    QTest::qWait(200);
    QCOMPARE(m_fake.calls.size(), 1);

    const uint first = m_fake.lastCookie;
    player.Pause();
    player.KeepAwakeTick();
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.calls.value(1), QStringLiteral("UnInhibit %1").arg(first),
                              5000);
    player.Play();
    player.KeepAwakeTick();
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.calls.value(2), inhibit, 5000);
    player.CloseMovie();
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.calls.value(3),
                              QStringLiteral("UnInhibit %1").arg(m_fake.lastCookie), 5000);
    QCOMPARE(m_fake.calls.size(), 4);
}

void TestKeepAwake::releasedOnDestruction()
{
    m_fake.calls.clear();
    auto keep = std::make_unique<TKeepAwake>();
    keep->setAwake(true);
    QTRY_VERIFY_WITH_TIMEOUT(keep->inhibited(), 5000);
    keep.reset();
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.calls.value(1),
                              QStringLiteral("UnInhibit %1").arg(m_fake.lastCookie), 5000);

    // Released while the request is under way: the answer's cookie is given back at once.
    m_fake.calls.clear();
    TKeepAwake quick;
    quick.setAwake(true);
    quick.setAwake(false);
    QTRY_COMPARE_WITH_TIMEOUT(m_fake.calls.size(), 2, 5000);
    QCOMPARE(m_fake.calls.at(1), QStringLiteral("UnInhibit %1").arg(m_fake.lastCookie));
    QVERIFY(!quick.inhibited());
}

void TestKeepAwake::withoutServiceNothingHappens()
{
    QDBusConnection service(QStringLiteral("fake"));
    QVERIFY(service.unregisterService(QStringLiteral("org.freedesktop.ScreenSaver")));
    m_fake.calls.clear();
    TKeepAwake keep;
    keep.setAwake(true);
    QTest::qWait(300);
    QVERIFY(!keep.inhibited());
    QCOMPARE(m_fake.calls, QStringList());
}

QTEST_GUILESS_MAIN(TestKeepAwake)
#include "tst_keepawake.moc"
