#include "app/Language.h"
#include "util/Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestLanguage : public QObject
{
    Q_OBJECT
private slots:
    void lookup_data();
    void lookup();
    void translatorAnswersAnyContext();
    void installReplacesTheTable();
    void unreadableFileThrows();
    void userLanguage();
    void messageMadeFromAnEntry_data();
    void messageMadeFromAnEntry();
    void translateMessageUsesTheInstalledTable();
    void qtTranslationsFollowTheLocale();
    void loadUserLanguageFindsTheTable();
};

void TestLanguage::lookup_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("translation"); // null: no entry

    QTest::newRow("entry") << QByteArray("Next=X\n") << "Next"
                           << "X";
    QTest::newRow("case-sensitive source") << QByteArray("next=X\n") << "Next" << QString();
    QTest::newRow("byte-order mark skipped") << QByteArray("\xEF\xBB\xBFNext=X") << "Next"
                                             << "X";
    QTest::newRow("CR LF") << QByteArray("a=1\r\nNext=X\r\n") << "Next"
                           << "X";
    QTest::newRow("CR alone") << QByteArray("a=1\rNext=X\rb=2") << "Next"
                              << "X";
    QTest::newRow("source ends at the first =") << QByteArray("a=b=c\n") << "a"
                                                << "b=c";
    QTest::newRow("source holding = cannot match") << QByteArray("a=b=c\n") << "a=b" << QString();
    QTest::newRow("line without =") << QByteArray("Next\nNext X\n") << "Next" << QString();
    QTest::newRow("first entry wins") << QByteArray("Next=1\nNext=2\n") << "Next"
                                      << "1";
    QTest::newRow("UTF-8") << QByteArray("Select Backup=选择备份\n") << "Select Backup"
                           << QStringLiteral("选择备份");
    QTest::newRow("blanks belong to the text") << QByteArray("Next =X\n") << "Next" << QString();
    QTest::newRow("message") << QByteArray("Export Files sucessfully=Y\n")
                             << "Export Files sucessfully"
                             << "Y";
}

void TestLanguage::lookup()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, source);
    QFETCH(QString, translation);
    const QString found = TLanguageTable::parse(file).lookup(source);
    QCOMPARE(found.isNull(), translation.isNull());
    QCOMPARE(found, translation);
}

void TestLanguage::translatorAnswersAnyContext()
{
    installLanguageTable(TLanguageTable::parse("Next=X\n"));
    QCOMPARE(QCoreApplication::translate("TFormMain", "Next"), QStringLiteral("X"));
    QCOMPARE(QCoreApplication::translate("SomethingElse", "Next"), QStringLiteral("X"));
    QCOMPARE(QCoreApplication::translate("TFormMain", "Previous"), QStringLiteral("Previous"));
    removeLanguageTable();
    QCOMPARE(QCoreApplication::translate("TFormMain", "Next"), QStringLiteral("Next"));
}

void TestLanguage::installReplacesTheTable()
{
    installLanguageTable(TLanguageTable::parse("Next=X\n"));
    installLanguageTable(TLanguageTable::parse("Previous=Y\n"));
    QCOMPARE(QCoreApplication::translate("c", "Next"), QStringLiteral("Next"));
    QCOMPARE(QCoreApplication::translate("c", "Previous"), QStringLiteral("Y"));
    removeLanguageTable();
}

void TestLanguage::unreadableFileThrows()
{
    QTemporaryDir dir;
    QVERIFY_THROWS_EXCEPTION(Error, TLanguageTable::load(dir.filePath("Lang/zh.txt")));
}

void TestLanguage::userLanguage()
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    QCOMPARE(GetUserLanguage(), QStringLiteral("zh"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(GetUserLanguage(), QStringLiteral("de"));
    QLocale::setDefault(saved);
}

void TestLanguage::messageMadeFromAnEntry_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown"); // null: no entry matches
    const QByteArray table = "cannot open %1: %2=无法打开 %1：%2\n"
                             "cannot open database %1: %2=无法打开数据库 %1：%2\n"
                             "%2 then %1=先 %1 后 %2\n"
                             "%1=anything\n"
                             "size %1x%2=尺寸 %1×%2\n"
                             "Failed to open the file:%1=无法打开文件：%1\n";
    QTest::newRow("pieces put in")
        << table << "cannot open /a b: denied" << QStringLiteral("无法打开 /a b：denied");
    QTest::newRow("most fixed text wins")
        << table << "cannot open database /x: busy" << QStringLiteral("无法打开数据库 /x：busy");
    QTest::newRow("placeholders reordered") << table << "B then A" << QStringLiteral("先 A 后 B");
    QTest::newRow("a piece holding a placeholder stays")
        << table << "cannot open %2.txt: %1" << QStringLiteral("无法打开 %2.txt：%1");
    QTest::newRow("a piece over lines")
        << table << "cannot open a\nb: c" << QStringLiteral("无法打开 a\nb：c");
    QTest::newRow("whole message only") << table << "x cannot open a: b" << QString();
    QTest::newRow("a bare placeholder matches nothing") << table << "hello" << QString();
    QTest::newRow("regular expression characters are text")
        << table << "size 3x4" << QStringLiteral("尺寸 3×4");
    QTest::newRow("regular expression characters do not match anything")
        << QByteArray("a.b %1=点 %1\n") << "axb c" << QString();
    QTest::newRow("continued text") << table << "Failed to open the file:/v.mp4 Invalid data"
                                    << QStringLiteral("无法打开文件：/v.mp4 Invalid data");
}

void TestLanguage::messageMadeFromAnEntry()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, message);
    QFETCH(QString, shown);
    const QString made = TLanguageTable::parse(file).lookupMessage(message);
    QCOMPARE(made.isNull(), shown.isNull());
    QCOMPARE(made, shown);
}

void TestLanguage::translateMessageUsesTheInstalledTable()
{
    QCOMPARE(translateMessage("cannot open /a: b"), QStringLiteral("cannot open /a: b"));
    installLanguageTable(TLanguageTable::parse("Next=X\ncannot open %1: %2=无法打开 %1：%2\n"));
    QCOMPARE(translateMessage("Next"), QStringLiteral("X"));
    QCOMPARE(translateMessage("cannot open /a: b"), QStringLiteral("无法打开 /a：b"));
    QCOMPARE(translateMessage("unknown"), QStringLiteral("unknown"));
    removeLanguageTable();
    QCOMPARE(translateMessage("cannot open /a: b"), QStringLiteral("cannot open /a: b"));
}

void TestLanguage::qtTranslationsFollowTheLocale()
{
    // Texts of Qt's own dialogs that no table of the program holds.
    installLanguageTable(TLanguageTable::parse("Next=X\n"));
    const QStringList files = installQtTranslations(QLocale(QLocale::Chinese, QLocale::China));
    QVERIFY2(!files.isEmpty(), "no Qt translation found (qt6-translations-l10n)");
    QVERIFY(files.first().endsWith(QLatin1String("/qt_zh_CN.qm")));
    QCOMPARE(QCoreApplication::translate("QFileSystemModel", "Date Modified"),
             QStringLiteral("修改日期"));
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Detail View"), QStringLiteral("详情视图"));
    // The program's table still answers its own texts.
    QCOMPARE(QCoreApplication::translate("TFormMain", "Next"), QStringLiteral("X"));
    // Traditional Chinese has its own file.
    QVERIFY(installQtTranslations(QLocale(QLocale::Chinese, QLocale::Taiwan))
                .first()
                .endsWith(QLatin1String("/qt_zh_TW.qm")));
    removeLanguageTable();
    QCOMPARE(QCoreApplication::translate("QFileSystemModel", "Date Modified"),
             QStringLiteral("Date Modified"));
}

void TestLanguage::loadUserLanguageFindsTheTable()
{
    QTemporaryDir cwd;
    QVERIFY(QDir(cwd.path()).mkdir("Lang"));
    QFile lang(cwd.filePath("Lang/zh.txt"));
    QVERIFY(lang.open(QIODevice::WriteOnly));
    lang.write("Next=X\n");
    lang.close();
    const QString saved = QDir::currentPath();
    const QLocale savedLocale;
    QVERIFY(QDir::setCurrent(cwd.path()));

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    LoadUserLanguage();
    QCOMPARE(QCoreApplication::translate("c", "Next"), QStringLiteral("Next"));
    QCOMPARE(QCoreApplication::translate("QFileSystemModel", "Date Modified"),
             QStringLiteral("Date Modified"));

    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    LoadUserLanguage();
    QCOMPARE(QCoreApplication::translate("c", "Next"), QStringLiteral("X"));
    QCOMPARE(QCoreApplication::translate("QFileSystemModel", "Date Modified"),
             QStringLiteral("修改日期"));
    removeLanguageTable();

    // Without a table anywhere the program stays English, Qt's texts too.
    QVERIFY(QFile::remove(cwd.filePath("Lang/zh.txt")));
    QVERIFY_THROWS_EXCEPTION(Error, LoadUserLanguage());
    QCOMPARE(QCoreApplication::translate("QFileSystemModel", "Date Modified"),
             QStringLiteral("Date Modified"));
    QDir::setCurrent(saved);
    QLocale::setDefault(savedLocale);
}

QTEST_GUILESS_MAIN(TestLanguage)
#include "tst_language.moc"
