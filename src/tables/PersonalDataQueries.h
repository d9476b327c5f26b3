#pragma once

#include <QString>
#include <QStringList>

class QSqlDatabase;

// The fixed statements of the record tables, in the order the table window runs them. They are
// the viewer's whole knowledge of the phone's databases; rows come in the engine's order.

// sms.db: time (local), correspondent and text of every message whose handle exists. Dates
// count seconds since 2001 before iOS 11 and nanoseconds since, told apart per value; 0 is no
// date. The text is the text column's, else what attributedBody holds (withAttributedBody:
// the table has that column).
QStringList smsStatements(bool withAttributedBody = true);

// Makes the functions the statements use known to the connection db:
// attributed_body_text(blob), the plain text of a Messages attributedBody or NULL.
void registerMessageFunctions(const QSqlDatabase& db);

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
