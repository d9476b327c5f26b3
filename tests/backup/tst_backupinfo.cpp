#include "backup/BackupInfo.h"
#include "util/Error.h"
#include "FolderSnapshot.h"
#include "SampleBackup.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <cstring>
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
    void hostileValues_data();
    void hostileValues();
    void hostileFolderIsSkippedOthersListed();
    void encryptedIsMarked();
};

namespace {

// A binary property list of one dictionary {"Display Name": name as UTF-16, "Last Backup
// Date": date}, written byte by byte: the library's writer cannot make a string with a NUL.
QByteArray binaryInfoPlist(const QString& name, double datePlistSeconds)
{
    QByteArray out("bplist00");
    QList<int> offsets;
    offsets << int(out.size()); // 0: the dictionary, keys 1 and 2, values 3 and 4
    out.append(char(0xD2)).append(char(1)).append(char(2)).append(char(3)).append(char(4));
    offsets << int(out.size());
    out.append(char(0x5C)).append("Display Name");
    offsets << int(out.size());
    out.append(char(0x5F)).append(char(0x10)).append(char(16)).append("Last Backup Date");
    offsets << int(out.size());
    const QList<char16_t> units(name.utf16(), name.utf16() + name.size());
    if (units.size() < 15) {
        out.append(char(0x60 | units.size()));
    } else {
        out.append(char(0x6F)).append(char(0x10)).append(char(units.size()));
    }
    for (char16_t u : units)
        out.append(char(u >> 8)).append(char(u & 0xff));
    offsets << int(out.size());
    out.append(char(0x33));
    quint64 bits = 0;
    std::memcpy(&bits, &datePlistSeconds, 8);
    for (int shift = 56; shift >= 0; shift -= 8)
        out.append(char((bits >> shift) & 0xff));
    const int tableOffset = int(out.size());
    for (int o : offsets)
        out.append(char(o));
    QByteArray trailer(6, '\0');
    trailer.append(char(1)).append(char(1)); // offset size, reference size
    auto put64 = [&trailer](quint64 v) {
        for (int shift = 56; shift >= 0; shift -= 8)
            trailer.append(char((v >> shift) & 0xff));
    };
    put64(quint64(offsets.size()));
    put64(0);
    put64(quint64(tableOffset));
    return out + trailer;
}

QByteArray xmlInfoPlist(const QString& name, const QString& isoDate)
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                          "<dict><key>Display Name</key><string>%1</string>"
                          "<key>Last Backup Date</key><date>%2</date></dict></plist>\n")
        .arg(name, isoDate)
        .toUtf8();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

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


void TestBackupInfo::hostileValues_data()
{
    QTest::addColumn<QByteArray>("plist");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("date");
    const double y2016 = 504699630.0; // 2016-12-29 10:20:30 UTC, seconds since 2001
    QTest::newRow("binary, UTF-16 name with a NUL")
        << binaryInfoPlist(QStringLiteral("Bob\u0000s iPhone \u00e9"), y2016)
        << QStringLiteral("Bob\u0000s iPhone \u00e9") << "2016-12-29 10:20:30";
    QTest::newRow("binary, date of 1900") << binaryInfoPlist(QStringLiteral("Old \u00e9"), -3187296000.0)
                                          << QStringLiteral("Old \u00e9") << "1900-01-01 00:00:00";
    QTest::newRow("binary, date of 2100")
        << binaryInfoPlist(QStringLiteral("New \u00e9"), 3124137600.0 + 86400.0 * 151)
        << QStringLiteral("New \u00e9") << "2100-06-01 00:00:00";
    QTest::newRow("xml, date of 1920") << xmlInfoPlist("Alpha", "1920-05-06T07:08:09Z")
                                       << "Alpha" << "1920-05-06 07:08:09";
    QTest::newRow("xml, date of 2080") << xmlInfoPlist("Alpha", "2080-05-06T07:08:09Z")
                                       << "Alpha" << "2080-05-06 07:08:09";
    QTest::newRow("xml after a byte-order mark")
        << QByteArray("\xEF\xBB\xBF") + xmlInfoPlist("Zo\u00eb", "2016-12-29T10:20:30Z")
        << QStringLiteral("Zo\u00eb") << "2016-12-29 10:20:30";
}

// No value of an Info.plist may end the program or come out other than the file holds it.
void TestBackupInfo::hostileValues()
{
    QFETCH(QByteArray, plist);
    QFETCH(QString, name);
    QFETCH(QString, date);
    QTemporaryDir dir;
    writeBytes(dir.filePath("Info.plist"), plist);
    const TBackupInfo info(dir.path());
    QCOMPARE(info.FDisplayName, name);
    QCOMPARE(info.FBackupDate, date);
}

void TestBackupInfo::hostileFolderIsSkippedOthersListed()
{
    QTemporaryDir dir;
    writeBytes(dir.filePath("a/Info.plist"), binaryInfoPlist(QStringLiteral("A\u0000"), 0));
    // A binary list whose trailer points past its end, and one cut in the middle.
    QByteArray broken = binaryInfoPlist(QStringLiteral("B"), 0);
    broken[broken.size() - 1] = char(0x7f);
    writeBytes(dir.filePath("b/Info.plist"), broken);
    writeBytes(dir.filePath("c/Info.plist"), binaryInfoPlist(QStringLiteral("C"), 0).left(20));
    SampleBackup good;
    good.deviceName = QStringLiteral("Good");
    good.write(dir.filePath("d"));
    const auto infos = LoadBackupInfos(dir.path());
    QStringList names;
    for (const auto& info : infos)
        names << info->FDisplayName;
    QCOMPARE(names, (QStringList{QStringLiteral("A\u0000"), QString(), QString(), "Good"}));
}

void TestBackupInfo::encryptedIsMarked()
{
    QTemporaryDir dir;
    SampleBackup plain;
    plain.deviceName = QStringLiteral("Phone");
    plain.write(dir.filePath("plain"));
    // A Manifest.db that is no SQLite file is encrypted whatever Manifest.plist says.
    SampleBackup other = plain;
    other.write(dir.filePath("scrambled"));
    writeBytes(dir.filePath("scrambled/Manifest.db"), QByteArray(4096, char(0x5a)));
    writeBytes(dir.filePath("flagged/Manifest.plist"),
               "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>IsEncrypted</key>"
               "<true/></dict></plist>");
    plain.write(dir.filePath("flagged"));
    QVERIFY(!TBackupInfo(dir.filePath("plain")).FIsEncrypted);
    QVERIFY(TBackupInfo(dir.filePath("scrambled")).FIsEncrypted);
    QVERIFY(TBackupInfo(dir.filePath("flagged")).FIsEncrypted);
    const QString date = FormatBackupDate(*plain.lastBackup);
    QCOMPARE(backupListText(TBackupInfo(dir.filePath("plain"))),
             QStringLiteral("Phone \u2014 ") + date);
    QCOMPARE(backupListText(TBackupInfo(dir.filePath("flagged"))),
             QStringLiteral("Phone \u2014 ") + date + QStringLiteral(" (encrypted)"));
}

QTEST_GUILESS_MAIN(TestBackupInfo)
#include "tst_backupinfo.moc"
