#include "app/Application.h"
#include "app/DesktopOpen.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "app/InstalledFiles.h"
#include "app/Language.h"

#include <QAction>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

// Home and shared links go to the desktop's opener, here a stand-in xdg-open on PATH that
// writes down what it was given and exits as the row asks (0: a program took it; 3 and 4:
// xdg-open found no tool or the program failed).
class TestDesktopOpen final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void opener_data();
    void opener();
    void withoutXdgOpenQtsOpenerDecides();
    void documentationGoesToTheOpener();
    void missingDocumentationIsSaid();
    void homeOpensTheDocumentation();
    void messageInChinese();

private:
    void useOpener(int exitCode);
    QStringList opened() const;

    QTemporaryDir m_dir;
    QByteArray m_path;
    QStringList m_messages;
};

void TestDesktopOpen::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_path = qgetenv("PATH");
    QFile script(m_dir.filePath("bin/xdg-open"));
    QVERIFY(QDir().mkpath(m_dir.filePath("bin")));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s\\n' \"$*\" >> \"$FAKE_OPENED\"\nexit \"$FAKE_EXIT\"\n");
    script.close();
    QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
    qputenv("FAKE_OPENED", m_dir.filePath("opened").toUtf8());
    qputenv("XDG_DATA_HOME", m_dir.filePath("data").toUtf8());
}

void TestDesktopOpen::init()
{
    QFile::remove(m_dir.filePath("opened"));
    m_messages.clear();
    setMessageSink([this](const QString& text, bool) { m_messages << text; });
}

void TestDesktopOpen::cleanup()
{
    setMessageSink({});
    qputenv("PATH", m_path);
    removeLanguageTable();
    QLocale::setDefault(QLocale::c());
}

void TestDesktopOpen::useOpener(int exitCode)
{
    qputenv("PATH", m_dir.filePath("bin").toUtf8() + ':' + m_path);
    qputenv("FAKE_EXIT", QByteArray::number(exitCode));
}

QStringList TestDesktopOpen::opened() const
{
    QFile f(m_dir.filePath("opened"));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
}

void TestDesktopOpen::opener_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message"); // empty: none
    const QUrl web(QStringLiteral("https://example.com/trip?a=1&b=%E4%BD%A0"));
    QTest::newRow("taken") << web << 0 << "";
    QTest::newRow("no tool") << web << 3
                             << "No program is set up to open https://example.com/trip?a=1&b=你.";
    QTest::newRow("program failed")
        << web << 4 << "No program is set up to open https://example.com/trip?a=1&b=你.";
    QTest::newRow("file") << QUrl::fromLocalFile("/tmp/a b.html") << 4
                          << "No program is set up to open /tmp/a b.html.";
}

void TestDesktopOpen::opener()
{
    QFETCH(QUrl, url);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    useOpener(exitCode);
    openExternally(url);
    // The opener is given the address whole, encoded, as one argument.
    QTRY_COMPARE(opened(), QStringList{url.toString(QUrl::FullyEncoded)});
    if (message.isEmpty()) {
        QTest::qWait(200);
        QCOMPARE(m_messages, QStringList());
    } else {
        QTRY_COMPARE(m_messages, QStringList{message});
    }
}

void TestDesktopOpen::withoutXdgOpenQtsOpenerDecides()
{
    // No xdg-open at all: Qt's own opener, which on this platform opens nothing, and says so.
    qputenv("PATH", m_dir.filePath("empty").toUtf8());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(".*"));
    openExternally(QUrl(QStringLiteral("https://example.com/")));
    QTRY_COMPARE(m_messages, QStringList{"No program is set up to open https://example.com/."});
    QCOMPARE(opened(), QStringList());
}

void TestDesktopOpen::documentationGoesToTheOpener()
{
    useOpener(0);
    // The build's own page, found the way the installed program finds its installed one.
    const QString page = documentationFile(QStringLiteral(FERROWICK_BINARY_DIR "/src"));
    QVERIFY(!page.isEmpty());
    openDocumentation(page);
    QTRY_COMPARE(opened(), QStringList{QUrl::fromLocalFile(page).toString(QUrl::FullyEncoded)});
    QVERIFY(!opened().constFirst().contains(QLatin1String(FERROWICK_SOURCE_DIR "/README")));
    QTest::qWait(200);
    QCOMPARE(m_messages, QStringList());
}

void TestDesktopOpen::missingDocumentationIsSaid()
{
    useOpener(0);
    openDocumentation(QString());
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first(),
             QStringLiteral("The documentation is not installed: %1 is missing.")
                 .arg(expectedDocumentationFile()));
    QVERIFY(expectedDocumentationFile().endsWith("/share/doc/ferrowick/README.html"));
    QTest::qWait(200);
    QCOMPARE(opened(), QStringList());
}

void TestDesktopOpen::homeOpensTheDocumentation()
{
    // The test program lies where no documentation is installed: Home says so, and opens
    // nothing of the build machine's.
    useOpener(0);
    TdmGlobal dm;
    TFormMain form(dm);
    form.show();
    form.actHome->trigger();
    QCOMPARE(m_messages.size(), 1);
    QVERIFY2(m_messages.first().startsWith("The documentation is not installed: "),
             qPrintable(m_messages.first()));
    QTest::qWait(200);
    QCOMPARE(opened(), QStringList());
}

void TestDesktopOpen::messageInChinese()
{
    // The fixed part of a message with an address in it is translated, the address kept.
    installLanguageTable(TLanguageTable::load(QStringLiteral(FERROWICK_SOURCE_DIR "/Lang/zh.txt")));
    useOpener(3);
    openExternally(QUrl(QStringLiteral("https://example.com/x")));
    QTRY_COMPARE(m_messages.size(), 1);
    QVERIFY2(m_messages.first().contains(QLatin1String("https://example.com/x")),
             qPrintable(m_messages.first()));
    QVERIFY2(!m_messages.first().contains(QLatin1String("No program")),
             qPrintable(m_messages.first()));
}

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    TestDesktopOpen test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_desktopopen.moc"
