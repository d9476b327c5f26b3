#pragma once

#include <QDateTime>
#include <QString>

#include <memory>
#include <vector>

// One backup folder, described by its Info.plist.
class TBackupInfo final
{
public:
    // Reads APath/Info.plist (XML or binary). Throws Error("no backup found!") when the
    // folder has no Info.plist; a file that is no property list leaves name and date empty.
    explicit TBackupInfo(const QString& APath);

    QString FDisplayName;      // "Display Name", empty when absent
    QString FBackupDate;       // "Last Backup Date" as the user's regional date and time
    QString FPhoneNumber;      // reserved, never filled
    QString FBackupPath;       // the folder exactly as given
    bool FIsEncrypted = false; // Manifest.plist says so, or Manifest.db is no plain SQLite file
};

// The text of a backup's list entry: the device name with the backup's date, and "encrypted"
// where a password will be asked, so two backups of one phone can be told apart.
QString backupListText(const TBackupInfo& info);

// The per-user data folder of this platform (XDG data home).
QString GetAppDataDir();
// Where iTunes-style backups live under that folder.
QString GetDefaultBackupDir();

// The backups among the immediate sub-folders of folder, by folder name; folders that are
// no backups are skipped silently, and a missing folder gives an empty list.
std::vector<std::unique_ptr<TBackupInfo>> LoadBackupInfos(const QString& folder);

// A UTC clock reading as short date, a blank and the long time, in the user's locale,
// with no time-zone conversion.
QString FormatBackupDate(const QDateTime& utc);
