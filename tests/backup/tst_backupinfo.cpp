#include "backup/BackupInfo.h"
#include "SampleBackup.h"

#include <QTemporaryDir>
#include <QTest>

class TestBackupInfo : public QObject
{
    Q_OBJECT
private slots:
    void readsNameAndDate();
};

void TestBackupInfo::readsNameAndDate()
{
    QTemporaryDir dir;
    SampleBackup b;
    b.deviceName = QStringLiteral("Zoë’s 手机");
    b.write(dir.path());
    TBackupInfo info(dir.path());
    QCOMPARE(info.FDisplayName, *b.deviceName);
}

QTEST_GUILESS_MAIN(TestBackupInfo)
#include "tst_backupinfo.moc"
