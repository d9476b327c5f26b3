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

// contact_key(text): what a phone number or e-mail address is matched on between the call
// history and the address book: an address in lower case, a number's last nine digits (so
// "+86 138 0013 8000" and "13800138000" meet); NULL for anything else.
void registerContactFunctions(const QSqlDatabase& db);
QString contactKey(const QString& address);

// call_history.db (iOS 7 and before) with the address book at contactsDb attached as "ab": every
// call, in local time, with the first and last name of its address-book person where it has
// one. An empty contactsDb attaches nothing and leaves the names empty.
QStringList callHistoryStatements(const QString& contactsDb);

// CallHistory.storedata (iOS 8 and later), whose ZCALLRECORD table has the given columns: date
// in local time, number, name (from the address book at contactsDb when it knows the number,
// else the one the call kept), direction, duration as h:mm:ss and service. A missing column
// reads as NULL; an empty contactsDb attaches nothing.
QStringList callRecordStatements(const QStringList& columns, const QString& contactsDb);

// notes.sqlite: title, author and summary of every note.
QStringList notesStatements();

// NoteStore.sqlite (iOS 9 and later), whose ZICCLOUDSYNCINGOBJECT and ZICNOTEDATA tables have
// the given columns: title, folder, created and modified in local time, and the text; locked
// notes show "Locked" instead of a text; notes marked for deletion are left out.
QStringList noteStoreStatements(const QStringList& objectColumns, const QStringList& dataColumns);

// Calendar.sqlitedb: title, location, start and end in local time, and description of every event.
QStringList calendarStatements();

// AddressBook.sqlitedb: one row per multi-value entry (phone number, e-mail, ...) of a person,
// and one for a person without any; the birthday as a date.
QStringList contactStatements();

// "h:mm:ss" of the seconds that the SQL expression seconds yields (rounded), NULL for NULL.
QString durationExpression(const QString& seconds);

// "attach '<uri>' as <schema>;" for the database file at path: read-only and immutable like the
// main database, so nothing is written beside it, with quotes in the path doubled for SQL.
QString attachStatement(const QString& path, const QString& schema);
