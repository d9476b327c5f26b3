#pragma once

#include <QByteArray>
#include <QStringList>

class SampleBackup;

// The phone's personal-data databases as an iOS 6/7 device keeps them (only the tables and
// columns the viewer reads, plus a few neighbours), each returned as the bytes of its file.
// Their rows exercise the record tables: non-ASCII names, NULLs, a text with a comma and a line
// break, a person with two phone numbers, a call without an address-book person, a message
// dated 0, a message without a handle (sent to a group chat of sms.db's chat tables).
namespace PhoneDatabases {

// extraMessages generated messages follow the fixed ones (for benchmarks).
QByteArray sms(int extraMessages = 0);
QByteArray callHistory();
QByteArray notes();
QByteArray addressBook();
QByteArray calendar();

// A database with rows that live only in its write-ahead log, as a device's backup often has
// them: runs statements on a copy of db in WAL mode without a checkpoint and returns the main
// file (without those rows) and its -wal file (with them).
struct WalPair
{
    QByteArray db;
    QByteArray wal;
};
WalPair withRowsInWal(const QByteArray& db, const QStringList& statements);

// The messages that sms(0, true) keeps only in sms.db-wal.
QStringList smsWalStatements();

} // namespace PhoneDatabases

// Adds the five databases to backup under the domains and paths a device backs them up with.
// With smsInWal, sms.db's newest messages live only in its -wal, listed beside it in the
// catalog with its -shm.
void addPhoneDatabases(SampleBackup& backup, bool smsInWal = false);
