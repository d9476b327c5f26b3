#include "app/Language.h"
#include "util/Error.h"

#include <QCoreApplication>
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

QTEST_GUILESS_MAIN(TestLanguage)
#include "tst_language.moc"
