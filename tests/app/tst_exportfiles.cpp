#include "app/ExportFiles.h"
#include "util/Error.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestExportFiles : public QObject
{
    Q_OBJECT
private slots:
    void entryForStoredCopy();
    void pathsLeavingTheFolderAreRefused_data();
    void pathsLeavingTheFolderAreRefused();
    void copiesCreatingFoldersAndReplacing();
    void failureStopsAtTheEntry();
    void insideFolder_data();
    void insideFolder();
};

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

void TestExportFiles::entryForStoredCopy()
{
    QTemporaryDir backup;
    const QString flatKey = QStringLiteral("aa11");
    const QString splitKey = QStringLiteral("bb22");
    writeFile(backup.filePath(flatKey), "flat");
    writeFile(backup.filePath("bb/" + splitKey), "split");
    const QString exportPath = QStringLiteral("/tmp/out/");

    auto flat = makeExportFile(backup.path(), flatKey, exportPath, "Library/SMS/sms.db");
    QVERIFY(flat);
    QCOMPARE(flat->srcFile, backup.filePath(flatKey));
    QCOMPARE(flat->dstFile, QStringLiteral("/tmp/out/Library/SMS/sms.db"));
    QVERIFY(flat->parentFolder.isEmpty());

    auto split = makeExportFile(backup.path(), splitKey, exportPath, "Applications/app1/a.db");
    QVERIFY(split);
    QCOMPARE(split->srcFile, backup.filePath("bb/" + splitKey));
    QCOMPARE(split->dstFile, QStringLiteral("/tmp/out/Applications/app1/a.db"));

    QVERIFY(!makeExportFile(backup.path(), QStringLiteral("cc33"), exportPath, "x/y.txt"));
}

void TestExportFiles::pathsLeavingTheFolderAreRefused_data()
{
    QTest::addColumn<QString>("treePath");
    QTest::addColumn<bool>("refused");
    QTest::newRow("plain") << "a/b.txt" << false;
    QTest::newRow("empty components") << "a//b.txt" << false;
    QTest::newRow("leading separator") << "/b.txt" << false;
    QTest::newRow("dot-dot within") << "a/../b.txt" << false;
    QTest::newRow("dot-dot out") << "../b.txt" << true;
    QTest::newRow("dot-dot out deeper") << "a/../../etc/b.txt" << true;
}

void TestExportFiles::pathsLeavingTheFolderAreRefused()
{
    QFETCH(QString, treePath);
    QFETCH(bool, refused);
    QTemporaryDir backup;
    writeFile(backup.filePath("k1"), "x");
    QTemporaryDir out;
    const QString exportPath = out.path() + '/';
    if (refused)
        QVERIFY_THROWS_EXCEPTION(Error, makeExportFile(backup.path(), "k1", exportPath, treePath));
    else
        QVERIFY(makeExportFile(backup.path(), "k1", exportPath, treePath));
}

void TestExportFiles::copiesCreatingFoldersAndReplacing()
{
    QTemporaryDir src;
    QTemporaryDir out;
    writeFile(src.filePath("one"), "first");
    writeFile(src.filePath("two"), "second");
    const std::vector<TExportFile> list = {
        {src.filePath("one"), out.filePath("Library/SMS/sms.db"), {}},
        {src.filePath("two"), out.filePath("Applications/app1/Documents/a.db"), {}}};
    CopyExportFiles(list);
    QCOMPARE(readFile(out.filePath("Library/SMS/sms.db")), QByteArray("first"));
    QCOMPARE(readFile(out.filePath("Applications/app1/Documents/a.db")), QByteArray("second"));

    writeFile(out.filePath("Library/SMS/sms.db"), "changed since");
    writeFile(src.filePath("one"), "new content");
    CopyExportFiles(list);
    QCOMPARE(readFile(out.filePath("Library/SMS/sms.db")), QByteArray("new content"));
    QCOMPARE(QDir(out.filePath("Library/SMS")).entryList(QDir::Files), QStringList{"sms.db"});
}

void TestExportFiles::failureStopsAtTheEntry()
{
    QTemporaryDir src;
    QTemporaryDir out;
    writeFile(src.filePath("one"), "first");
    writeFile(src.filePath("three"), "third");
    writeFile(out.filePath("b/two.txt"), "earlier export");
    const std::vector<TExportFile> list = {
        {src.filePath("one"), out.filePath("a/one.txt"), {}},
        {src.filePath("gone"), out.filePath("b/two.txt"), {}},
        {src.filePath("three"), out.filePath("c/three.txt"), {}}};
    try {
        CopyExportFiles(list);
        QFAIL("a missing source must fail the export");
    } catch (const Error& e) {
        QVERIFY2(e.message().contains(src.filePath("gone")), qPrintable(e.message()));
    }
    QCOMPARE(readFile(out.filePath("a/one.txt")), QByteArray("first"));
    // The file of an earlier export is not lost to the failed copy.
    QCOMPARE(readFile(out.filePath("b/two.txt")), QByteArray("earlier export"));
    QVERIFY(!QFile::exists(out.filePath("c/three.txt")));
    QCOMPARE(QDir(out.filePath("b")).entryList(QDir::Files), QStringList{"two.txt"});
}

void TestExportFiles::insideFolder_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("inside");
    QTest::newRow("same") << "/a/b"
                          << "/a/b" << true;
    QTest::newRow("same with separator") << "/a/b/"
                                         << "/a/b" << true;
    QTest::newRow("below") << "/a/b/c"
                           << "/a/b/" << true;
    QTest::newRow("sibling with common prefix") << "/a/bc"
                                                << "/a/b" << false;
    QTest::newRow("above") << "/a"
                           << "/a/b" << false;
    QTest::newRow("dot-dot") << "/a/b/../c"
                             << "/a/b" << false;
}

void TestExportFiles::insideFolder()
{
    QFETCH(QString, path);
    QFETCH(QString, folder);
    QFETCH(bool, inside);
    QCOMPARE(isInsideFolder(path, folder), inside);
}

QTEST_GUILESS_MAIN(TestExportFiles)
#include "tst_exportfiles.moc"
