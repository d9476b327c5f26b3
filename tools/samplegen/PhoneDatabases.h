#pragma once

#include <QByteArray>

class SampleBackup;

// The phone's personal-data databases as an iOS 6/7 device keeps them (only the tables and
// columns the viewer reads, plus a few neighbours), each returned as the bytes of its file.
// Their rows exercise the record tables: non-ASCII names, NULLs, a text with a comma and a line
// break, a person with two phone numbers, a call without an address-book person, a message
// dated 0, a message without a handle.
namespace PhoneDatabases {

// extraMessages generated messages follow the fixed ones (for benchmarks).
QByteArray sms(int extraMessages = 0);
QByteArray callHistory();
QByteArray notes();
QByteArray addressBook();
QByteArray calendar();

} // namespace PhoneDatabases

// Adds the five databases to backup under the domains and paths a device backs them up with.
void addPhoneDatabases(SampleBackup& backup);
