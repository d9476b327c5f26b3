#pragma once

#include <QString>
#include <QStringList>

// The fixed statements of the record tables, in the order the table window runs them. They are
// the viewer's whole knowledge of the phone's databases; rows come in the engine's order.

// sms.db: time, correspondent and text of every message whose handle exists.
QStringList smsStatements();

// call_history.db with the address book at contactsDb attached as "ab": only calls that belong
// to an address-book person are listed, with that person's first and last name.
QStringList callHistoryStatements(const QString& contactsDb);

// notes.sqlite: title, author and summary of every note.
QStringList notesStatements();

// Calendar.sqlitedb: title, location, start and end in local time, and description of every event.
QStringList calendarStatements();

// AddressBook.sqlitedb: one row per multi-value entry (phone number, e-mail, ...) of a person.
QStringList contactStatements();

// "attach '<uri>' as <schema>;" for the database file at path: read-only and immutable like the
// main database, so nothing is written beside it, with quotes in the path doubled for SQL.
QString attachStatement(const QString& path, const QString& schema);
