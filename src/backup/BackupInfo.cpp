#include "backup/BackupInfo.h"

#include "backup/ManifestInfo.h"
#include "backup/Plist.h"
#include "util/Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QStandardPaths>

TBackupInfo::TBackupInfo(const QString& APath) : FBackupPath(APath)
{
    QFile file(QDir(APath).filePath(QStringLiteral("Info.plist")));
    if (!file.exists() || !file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("no backup found!"));
    FIsEncrypted = ReadManifestInfo(APath).isEncrypted;
    // Real ones are a few kB; a huge file is no backup's description.
    if (file.size() > 64 * 1024 * 1024)
        return;
    const PlistPointer root = plistFromMemory(file.readAll());
    if (!root)
        return;
    if (auto name = plistDictString(root.get(), "Display Name"))
        FDisplayName = *name;
    if (auto seconds = plistDictDate(root.get(), "Last Backup Date"))
        FBackupDate = FormatBackupDate(QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC));
}

QString backupListText(const TBackupInfo& info)
{
    QString text = info.FDisplayName;
    if (!info.FBackupDate.isEmpty())
        text += QStringLiteral(" \u2014 ") + info.FBackupDate;
    if (info.FIsEncrypted)
        text += QStringLiteral(" (%1)").arg(QCoreApplication::translate("Ferrowick", "encrypted"));
    return text;
}

QString FormatBackupDate(const QDateTime& utc)
{
    const QLocale locale;
    // The long time format may name a time zone ("t"); the reading is UTC's clock, shown
    // without conversion, so a zone name would be wrong for most users: leave it out.
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(QRegularExpression(QStringLiteral("\\s*\\(?t+\\)?\\s*")));
    return locale.toString(utc.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
           locale.toString(utc.time(), timeFormat.trimmed());
}

QString GetAppDataDir()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
}

QString GetDefaultBackupDir()
{
    return QDir(GetAppDataDir()).filePath(QStringLiteral("Apple Computer/MobileSync/Backup"));
}

std::vector<std::unique_ptr<TBackupInfo>> LoadBackupInfos(const QString& folder)
{
    std::vector<std::unique_ptr<TBackupInfo>> infos;
    const QDir dir(folder);
    const auto entries = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& entry : entries) {
        try {
            infos.push_back(std::make_unique<TBackupInfo>(entry.absoluteFilePath()));
        } catch (const Error&) {
            // Not a backup: skipped without a word.
        }
    }
    return infos;
}
