#include "app/InstalledFiles.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

// A prefix with an installed program (bin/ferrowick) and, as a row asks, its files.
class TestInstalledFiles final : public QObject
{
    Q_OBJECT

private slots:
    void installedFoldersFollowTheProgram();
    void languageFile_data();
    void languageFile();
    void documentation();
    void helperProgram_data();
    void helperProgram();
    void buildTreeHasTheInstalledLayout();

private:
    static bool writeFile(const QString& path, const QByteArray& bytes = "x",
                          bool executable = false);
};

bool TestInstalledFiles::writeFile(const QString& path, const QByteArray& bytes, bool executable)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    f.close();
    if (executable)
        f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeUser);
    return true;
}

void TestInstalledFiles::installedFoldersFollowTheProgram()
{
    // The build's default layout: bin/, share/ferrowick, share/doc/ferrowick, libexec/ferrowick.
    for (const QString prefix : {"/usr", "/opt/ferrowick", "/home/u/.local"}) {
        QCOMPARE(installedDataFolder(prefix + "/bin"), prefix + "/share/ferrowick");
        QCOMPARE(installedDocumentationFolder(prefix + "/bin"), prefix + "/share/doc/ferrowick");
        QCOMPARE(installedHelperFolder(prefix + "/bin"), prefix + "/libexec/ferrowick");
    }
}

void TestInstalledFiles::languageFile_data()
{
    QTest::addColumn<QStringList>("present"); // of cwd/, bin/ (beside) and share/ferrowick/
    QTest::addColumn<QString>("found");       // empty: none
    QTest::newRow("installed") << QStringList{"share/ferrowick"} << "share/ferrowick";
    QTest::newRow("beside the program") << QStringList{"bin"} << "bin";
    QTest::newRow("working directory first")
        << QStringList{"cwd", "bin", "share/ferrowick"} << "cwd";
    QTest::newRow("beside before installed") << QStringList{"bin", "share/ferrowick"} << "bin";
    QTest::newRow("none") << QStringList{} << "";
}

void TestInstalledFiles::languageFile()
{
    QFETCH(QStringList, present);
    QFETCH(QString, found);
    QTemporaryDir root;
    QVERIFY(QDir().mkpath(root.filePath("bin")) && QDir().mkpath(root.filePath("cwd")));
    for (const QString& folder : present)
        QVERIFY(writeFile(root.filePath(folder + "/Lang/zh.txt")));
    // A folder named Lang without the file, or another language, is no table.
    QVERIFY(writeFile(root.filePath("cwd/Lang/de.txt")));
    const QString file =
        findLanguageFile(QStringLiteral("zh.txt"), root.filePath("bin"), root.filePath("cwd"));
    QCOMPARE(file, found.isEmpty() ? QString() : root.filePath(found + "/Lang/zh.txt"));
}

void TestInstalledFiles::documentation()
{
    QTemporaryDir root;
    QVERIFY(QDir().mkpath(root.filePath("bin")));
    QCOMPARE(documentationFile(root.filePath("bin")), QString());
    // The source's README beside the program is no documentation of an installation.
    QVERIFY(writeFile(root.filePath("bin/README.md")));
    QCOMPARE(documentationFile(root.filePath("bin")), QString());
    QVERIFY(writeFile(root.filePath("share/doc/ferrowick/README.html")));
    QCOMPARE(documentationFile(root.filePath("bin")),
             root.filePath("share/doc/ferrowick/README.html"));
}

void TestInstalledFiles::helperProgram_data()
{
    QTest::addColumn<QStringList>("present"); // "folder" or "folder:plain" (not executable)
    QTest::addColumn<QString>("found");       // relative to the prefix, "PATH" or empty
    QTest::newRow("installed helper folder")
        << QStringList{"libexec/ferrowick"} << "libexec/ferrowick";
    QTest::newRow("beside first") << QStringList{"bin", "libexec/ferrowick"} << "bin";
    QTest::newRow("not executable is skipped")
        << QStringList{"bin:plain", "libexec/ferrowick"} << "libexec/ferrowick";
    QTest::newRow("PATH last") << QStringList{"path"} << "path";
    QTest::newRow("installed before PATH")
        << QStringList{"path", "libexec/ferrowick"} << "libexec/ferrowick";
    QTest::newRow("nowhere") << QStringList{} << "";
}

void TestInstalledFiles::helperProgram()
{
    QFETCH(QStringList, present);
    QFETCH(QString, found);
    QTemporaryDir root;
    QVERIFY(QDir().mkpath(root.filePath("bin")) && QDir().mkpath(root.filePath("path")));
    for (const QString& entry : present) {
        const QString folder = entry.section(':', 0, 0);
        QVERIFY(writeFile(root.filePath(folder + "/SilkDecoder"), "#!/bin/sh\n",
                          !entry.endsWith(":plain")));
    }
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("PATH", root.filePath("path").toUtf8());
    const QString program = findHelperProgram(QStringLiteral("SilkDecoder"), root.filePath("bin"));
    qputenv("PATH", savedPath);
    QCOMPARE(program, found.isEmpty() ? QString() : root.filePath(found + "/SilkDecoder"));
    QCOMPARE(findHelperProgram(QString(), root.filePath("bin")), QString());
    QCOMPARE(findHelperProgram(QStringLiteral("/bin/true"), root.filePath("bin")),
             QStringLiteral("/bin/true"));
}

void TestInstalledFiles::buildTreeHasTheInstalledLayout()
{
    // The program in the build folder finds its files the way an installed one does.
    const QString appDir = QStringLiteral(FERROWICK_BINARY_DIR "/src");
    QTemporaryDir elsewhere;
    const QString lang = findLanguageFile(QStringLiteral("zh.txt"), appDir, elsewhere.path());
    QCOMPARE(lang, installedDataFolder(appDir) + "/Lang/zh.txt");
    QFile built(lang), source(QStringLiteral(FERROWICK_SOURCE_DIR "/Lang/zh.txt"));
    QVERIFY(built.open(QIODevice::ReadOnly) && source.open(QIODevice::ReadOnly));
    QCOMPARE(built.readAll(), source.readAll());

    QCOMPARE(findHelperProgram(QStringLiteral("SilkDecoder"), appDir), appDir + "/SilkDecoder");

    // The README as a page: encoded as it says, its pictures beside it, no link out of it
    // to the source folder it was made from.
    const QString page = documentationFile(appDir);
    QVERIFY2(!page.isEmpty(), "no README.html in the build (is cmark-gfm installed?)");
    QFile html(page);
    QVERIFY(html.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(html.readAll());
    QVERIFY(text.contains(QLatin1String("<meta charset=\"utf-8\">")));
    QVERIFY(text.contains(QLatin1String("<h2>Two commands (fresh Debian 12)</h2>")));
    QVERIFY(text.contains(QLatin1String("<table>")));
    QVERIFY(!text.contains(QLatin1String(FERROWICK_SOURCE_DIR)));
    static const QRegularExpression img(QStringLiteral("<img src=\"([^\"]+)\""));
    int pictures = 0;
    for (auto it = img.globalMatch(text); it.hasNext(); ++pictures) {
        const QString src = it.next().captured(1);
        QVERIFY2(QFileInfo(QFileInfo(page).dir().filePath(src)).isFile(), qPrintable(src));
    }
    QVERIFY(pictures >= 4);
}

QTEST_GUILESS_MAIN(TestInstalledFiles)
#include "tst_installedfiles.moc"
