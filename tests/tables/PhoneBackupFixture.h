#pragma once

#include "PhoneDatabases.h"
#include "SampleBackup.h"

#include <QDir>
#include <QDirIterator>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdlib>
#include <ctime>

// A generated backup holding the five phone databases, in a folder whose path holds a single
// quote, with the paths of their stored copies.
struct PhoneBackupFixture
{
    QTemporaryDir temp;
    QString folder;
    QString sms, callHistory, notes, contacts, calendar;

    PhoneBackupFixture()
    {
        folder = QDir(temp.path()).filePath(QStringLiteral("O'Brien's iPhone 100%"));
        SampleBackup backup;
        addPhoneDatabases(backup);
        backup.write(folder);
        sms = copyOf("HomeDomain", "Library/SMS/sms.db");
        callHistory = copyOf("WirelessDomain", "Library/CallHistory/call_history.db");
        notes = copyOf("HomeDomain", "Library/Notes/notes.sqlite");
        contacts = copyOf("HomeDomain", "Library/AddressBook/AddressBook.sqlitedb");
        calendar = copyOf("HomeDomain", "Library/Calendar/Calendar.sqlitedb");
    }

    // The stored copy in the split layout of Manifest.db backups.
    QString copyOf(const char* domain, const char* path) const
    {
        const QString key = SampleBackup::keyOf(QByteArray(domain), QByteArray(path));
        return QDir(folder).filePath(key.left(2) + QLatin1Char('/') + key);
    }

    // Every file under the backup folder with its size and modification time, to show that
    // reading wrote nothing there.
    QStringList listing() const
    {
        QStringList files;
        QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            files << QStringLiteral("%1 %2 %3")
                         .arg(it.filePath())
                         .arg(it.fileInfo().size())
                         .arg(it.fileInfo().lastModified().toMSecsSinceEpoch());
        }
        files.sort();
        return files;
    }
};

// Local time of the calendar table: a fixed zone eight hours east of UTC, without tzdata.
inline void useFixedTimeZone()
{
    qputenv("TZ", "XST-8");
    tzset();
}
