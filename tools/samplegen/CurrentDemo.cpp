// The second demo backup: what a current iPhone (iOS 17) backs up, in today's formats. Each
// kind of data adds itself here; the old demo keeps the iOS 6-era formats.
#include "CurrentDatabases.h"
#include "MessagesDatabases.h"
#include "CurrentPhotos.h"
#include "PhoneDatabases.h"
#include "SampleBackup.h"
#include "WechatData.h"

SampleBackup SampleBackup::demoCurrent()
{
    SampleBackup backup;
    backup.deviceName = QStringLiteral("Ferrowick Demo iPhone 15");
    backup.lastBackup = QDateTime(QDate(2026, 11, 30), QTime(8, 15, 0), Qt::UTC);
    backup.addFile(QStringLiteral("HomeDomain"),
                   QStringLiteral("Library/Preferences/com.apple.demo.plist"),
                   "<plist version=\"1.0\"><dict/></plist>\n");
    backup.addFiller(400, 15);
    backup.addFile(QStringLiteral("HomeDomain"),
                   QStringLiteral("Library/AddressBook/AddressBook.sqlitedb"),
                   PhoneDatabases::addressBook());
    addCurrentDatabases(backup);
    MessagesDatabases::addMessages(backup, MessagesDatabases::Era::Ios17);
    media::addCurrentCameraRoll(backup);
    wechat::addCurrentWechatAccount(backup);
    return backup;
}
