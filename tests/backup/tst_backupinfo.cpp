#include "backup/BackupInfo.h"
#include "util/Error.h"
#include "FolderSnapshot.h"
#include "SampleBackup.h"

#include <QDir>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

class TestBackupInfo : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void readsNameAndDate_data();
    void readsNameAndDate();
    void dateIgnoresTimeZone();
    void folderWithoutInfoPlist();
    void discoverySkipsNonBackups();
    void missingDefaultFolderGivesEmptyList();
    void defaultFolderUnderDataHome();
    void realBackup();
};

void TestBackupInfo::initTestCase()
{
    // A locale whose short date is ISO-like keeps the expected texts readable.
    QLocale::setDefault(QLocale(QLocale::Swedish, QLocale::Sweden));
}

void TestBackupInfo::readsNameAndDate_data()
{
    QTest::addColumn<int>("form");
    QTest::addColumn<bool>("withName");
    QTest::addColumn<bool>("withDate");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("date");
    const int xml = int(SampleBackup::InfoForm::Xml);
    const int bin = int(SampleBackup::InfoForm::Binary);
    const int garbage = int(SampleBackup::InfoForm::Garbage);
    const QString chinese = QStringLiteral("张伟的 iPhone");
    const QString apostrophe = QStringLiteral("Zoë’s iPhone");
    QTest::newRow("xml, chinese") << xml << true << true << chinese << "2016-12-29 10:20:30";
    QTest::newRow("xml, apostrophe") << xml << true << true << apostrophe << "2016-12-29 10:20:30";
    QTest::newRow("binary, chinese") << bin << true << true << chinese << "2016-12-29 10:20:30";
    QTest::newRow("no name") << xml << false << true << QString() << "2016-12-29 10:20:30";
    QTest::newRow("no date") << bin << true << false << apostrophe << QString();
    QTest::newRow("not a plist") << garbage << true << true << QString() << QString();
}

void TestBackupInfo::readsNameAndDate()
{
    QFETCH(int, form);
    QFETCH(bool, withName);
    QFETCH(bool, withDate);
    QFETCH(QString, name);
    QFETCH(QString, date);
    QTemporaryDir dir;
    SampleBackup backup;
    backup.infoForm = SampleBackup::InfoForm(form);
    backup.deviceName = withName ? std::optional(name.isEmpty() ? QStringLiteral("x") : name) : std::nullopt;
    if (!withDate)
        backup.lastBackup.reset();
    backup.write(dir.path());

    const TBackupInfo info(dir.path());
    QCOMPARE(info.FDisplayName, name);
    QCOMPARE(info.FBackupDate, date);
    QCOMPARE(info.FBackupPath, dir.path());
    QVERIFY(info.FPhoneNumber.isEmpty());
}

void TestBackupInfo::dateIgnoresTimeZone()
{
    QTemporaryDir dir;
    SampleBackup backup;
    backup.write(dir.path());
    const QByteArray savedTz = qgetenv("TZ");
    for (const char* zone : {"UTC", "Asia/Shanghai", "America/Los_Angeles", "Pacific/Kiritimati"}) {
        qputenv("TZ", zone);
        tzset();
        QCOMPARE(TBackupInfo(dir.path()).FBackupDate, QStringLiteral("2016-12-29 10:20:30"));
    }
    qputenv("TZ", savedTz);
    tzset();
}

void TestBackupInfo::folderWithoutInfoPlist()
{
    QTemporaryDir dir;
    try {
        TBackupInfo info(dir.path());
        QFAIL("a folder without Info.plist was taken for a backup");
    } catch (const Error& e) {
        QCOMPARE(e.message(), QStringLiteral("no backup found!"));
    }
}

void TestBackupInfo::discoverySkipsNonBackups()
{
    QTemporaryDir root;
    const QDir dir(root.path());
    SampleBackup first;
    first.deviceName = QStringLiteral("Alpha");
    first.write(dir.filePath("b-first"));
    SampleBackup second;
    second.deviceName = QStringLiteral("Beta");
    second.catalog = SampleBackup::Catalog::Mbdb;
    second.write(dir.filePath("a-second"));
    dir.mkpath("c-not-a-backup/inner");
    QFile stray(dir.filePath("stray-file"));
    QVERIFY(stray.open(QIODevice::WriteOnly));

    const auto infos = LoadBackupInfos(root.path());
    QCOMPARE(infos.size(), size_t(2));
    QCOMPARE(infos[0]->FDisplayName, QStringLiteral("Beta"));
    QCOMPARE(infos[1]->FDisplayName, QStringLiteral("Alpha"));
    QCOMPARE(QDir(infos[1]->FBackupPath), QDir(dir.filePath("b-first")));
}

void TestBackupInfo::missingDefaultFolderGivesEmptyList()
{
    QTemporaryDir root;
    QVERIFY(LoadBackupInfos(QDir(root.path()).filePath("does/not/exist")).empty());
}

void TestBackupInfo::defaultFolderUnderDataHome()
{
    QTemporaryDir home;
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    QCOMPARE(GetDefaultBackupDir(), home.path() + QStringLiteral("/Apple Computer/MobileSync/Backup"));
    qputenv("XDG_DATA_HOME", saved);
}

void TestBackupInfo::realBackup()
{
    const QString folder = QStringLiteral(FERROWICK_REAL_BACKUPS "/ios14-manifest-db");
    if (!QFileInfo::exists(folder + "/Info.plist"))
        QSKIP("the real backups are not beside this clone");
    const auto before = folderSnapshot(folder);
    const TBackupInfo info(folder);
    QCOMPARE(info.FDisplayName, QStringLiteral("iPhone"));
    QCOMPARE(info.FBackupDate, QStringLiteral("2021-12-03 19:33:13"));
    QCOMPARE(folderSnapshot(folder), before);
}

QTEST_GUILESS_MAIN(TestBackupInfo)
#include "tst_backupinfo.moc"
