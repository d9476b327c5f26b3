#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

#include <vector>

// Contacts as a vCard 3.0 file (RFC 2426): one card per address-book person, UTF-8, CR LF line
// ends, text values escaped and lines folded at 75 octets.
struct TVCardEntry
{
    QString property;  // "TEL", "EMAIL" or "URL"
    QStringList types; // TYPE parameters, such as CELL or WORK
    QString value;
};

struct TVCardPerson
{
    QString prefix, first, middle, last, suffix;
    QString nickname, organization, department, jobTitle, note;
    QDate birthday;
    std::vector<TVCardEntry> entries;
};

// One card.
QByteArray vCardOf(const TVCardPerson& person);

// Reads every person of the address book at path (read-only, on a connection of its own)
// with their phone numbers, e-mail addresses and web addresses. Throws an Error when the file
// is no address book.
std::vector<TVCardPerson> readAddressBook(const QString& path);

// The whole file for the address book at path.
QByteArray addressBookVCards(const QString& path);
