#include "app/ExportFiles.h"
#include "util/Error.h"
#include "util/FileCopy.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
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
    void progressCountsFilesAndBytes();
    void cancelKeepsWhatIsDone_data();
    void cancelKeepsWhatIsDone();
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

QByteArray digest(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return "<missing>";
    return hash.result();
}

// A file over two copy chunks, mostly a hole, with marks at both ends: an offset gone wrong
// between chunks shows in its digest.
qint64 writeBigFile(const QString& path)
{
    const qint64 size = 2 * kCopyChunk + 1000;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write("head") != 4 ||
        !file.resize(size) || !file.seek(size - 4) || file.write("tail") != 4)
        return -1;
    return size;
}

QStringList partialFiles(const QString& folder)
{
    QStringList found;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        const QString path = it.next();
        if (path.endsWith(QLatin1String(".ferrowick-part")))
            found << path;
    }
    return found;
}

} // namespace

// Found by QCOMPARE through the type's namespace.
bool operator==(const TExportProgress& a, const TExportProgress& b)
{
    return a.filesDone == b.filesDone && a.files == b.files && a.bytesDone == b.bytesDone &&
           a.bytes == b.bytes;
}

char* toString(const TExportProgress& p)
{
    return qstrdup(QByteArray("files %1 of %2, bytes %3 of %4")
                       .replace("%1", QByteArray::number(p.filesDone))
                       .replace("%2", QByteArray::number(p.files))
                       .replace("%3", QByteArray::number(p.bytesDone))
                       .replace("%4", QByteArray::number(p.bytes))
                       .constData());
}

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

void TestExportFiles::progressCountsFilesAndBytes()
{
    QTemporaryDir src;
    QTemporaryDir out;
    writeFile(src.filePath("one"), "one");
    const qint64 big = writeBigFile(src.filePath("big"));
    QVERIFY(big > 0);
    writeFile(src.filePath("three"), "third file");
    const std::vector<TExportFile> list = {{src.filePath("one"), out.filePath("a/one.txt"), {}},
                                           {src.filePath("big"), out.filePath("b/big.bin"), {}},
                                           {src.filePath("three"), out.filePath("a/three.txt"), {}}};
    const qint64 total = 3 + big + 10;
    std::vector<TExportProgress> reports;
    const TExportOutcome outcome = CopyExportFilesWithProgress(
        list, nullptr, [&reports](const TExportProgress& p) {
            reports.push_back(p);
            return true;
        });
    QCOMPARE(outcome.exported, 3);
    QCOMPARE(outcome.skipped, 0);
    QVERIFY(!outcome.cancelled);
    QCOMPARE(digest(out.filePath("b/big.bin")), digest(src.filePath("big")));
    QCOMPARE(readFile(out.filePath("a/three.txt")), QByteArray("third file"));

    QVERIFY(reports.size() >= 4);
    QCOMPARE(reports.front(), (TExportProgress{0, 3, 0, total}));
    QCOMPARE(reports.back(), (TExportProgress{3, 3, total, total}));
    int withinBig = 0;
    for (size_t i = 1; i < reports.size(); ++i) {
        QVERIFY(reports[i].bytesDone >= reports[i - 1].bytesDone);
        QVERIFY(reports[i].filesDone >= reports[i - 1].filesDone);
        QVERIFY(reports[i].bytesDone <= total);
        if (reports[i].filesDone == 1 && reports[i].bytesDone > 3 && reports[i].bytesDone < 3 + big)
            ++withinBig;
    }
    // The big file reports each chunk, not only its end.
    QVERIFY2(withinBig >= 2, qPrintable(QString::number(withinBig)));
}

void TestExportFiles::cancelKeepsWhatIsDone_data()
{
    // The export is cancelled at the first report that matches; big.bin is the second file.
    QTest::addColumn<int>("cancelFiles"); // files done at the report that cancels
    QTest::addColumn<bool>("withinFile"); // the report is one of the big file's chunks
    QTest::addColumn<int>("exported");
    QTest::addColumn<bool>("cancelled");
    QTest::newRow("before the first file") << 0 << false << 0 << true;
    QTest::newRow("within the big file") << 1 << true << 1 << true;
    QTest::newRow("after the big file") << 2 << false << 2 << true;
    QTest::newRow("after the last file") << 3 << false << 3 << false;
}

void TestExportFiles::cancelKeepsWhatIsDone()
{
    QFETCH(int, cancelFiles);
    QFETCH(bool, withinFile);
    QFETCH(int, exported);
    QFETCH(bool, cancelled);
    QTemporaryDir src;
    QTemporaryDir out;
    writeFile(src.filePath("one"), "one");
    const qint64 big = writeBigFile(src.filePath("big"));
    QVERIFY(big > 0);
    writeFile(src.filePath("three"), "third file");
    writeFile(out.filePath("b/big.bin"), "earlier export");
    const std::vector<TExportFile> list = {{src.filePath("one"), out.filePath("a/one.txt"), {}},
                                           {src.filePath("big"), out.filePath("b/big.bin"), {}},
                                           {src.filePath("three"), out.filePath("c/three.txt"), {}}};
    bool first = true;
    const TExportOutcome outcome =
        CopyExportFilesWithProgress(list, nullptr, [&](const TExportProgress& p) {
            const bool chunk = !first && p.bytesDone > 3 && p.bytesDone < 3 + big;
            first = false;
            return !(p.filesDone == cancelFiles && chunk == withinFile);
        });
    QCOMPARE(outcome.exported, exported);
    QCOMPARE(outcome.cancelled, cancelled);
    QCOMPARE(readFile(out.filePath("a/one.txt")),
             exported >= 1 ? QByteArray("one") : QByteArray("<missing>"));
    // A file cut short leaves no trace: the earlier export's file at its place stays whole.
    if (exported >= 2)
        QCOMPARE(digest(out.filePath("b/big.bin")), digest(src.filePath("big")));
    else
        QCOMPARE(readFile(out.filePath("b/big.bin")), QByteArray("earlier export"));
    QCOMPARE(QFile::exists(out.filePath("c/three.txt")), exported == 3);
    QCOMPARE(partialFiles(out.path()), QStringList());
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
