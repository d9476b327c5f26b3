#include "tables/PersonalDataTables.h"

#include "tables/FormSQL.h"
#include "tables/PersonalDataQueries.h"
#include "tables/VCard.h"
#include "tables/CsvWriter.h"
#include "util/Sqlite.h"

#include <QStringList>

void showSmsTable(TdmGlobal& dm, const QString& smsDb, QWidget* parent)
{
    // Databases before iOS 6 have no attributedBody; the statement reads it only where it is.
    const QStringList columns = tableColumns(smsDb, QStringLiteral("message"));
    const QStringList statements =
        smsStatements(columns.isEmpty() || columns.contains(QLatin1String("attributedBody")));
    ShowSQLForm(dm, smsDb, statements, parent);
}

void showCallHistoryTable(TdmGlobal& dm, const QString& callHistoryDb, const QString& contactsDb,
                          QWidget* parent)
{
    const QStringList statements = callHistoryStatements(contactsDb);
    ShowSQLForm(dm, callHistoryDb, statements, parent);
}

void showCallRecordsTable(TdmGlobal& dm, const QString& callRecordsDb, const QString& contactsDb,
                          QWidget* parent)
{
    const QStringList columns = tableColumns(callRecordsDb, QStringLiteral("ZCALLRECORD"));
    const QStringList statements = callRecordStatements(columns, contactsDb);
    ShowSQLForm(dm, callRecordsDb, statements, parent);
}

void showNoteStoreTable(TdmGlobal& dm, const QString& noteStoreDb, QWidget* parent)
{
    const QStringList statements =
        noteStoreStatements(tableColumns(noteStoreDb, QStringLiteral("ZICCLOUDSYNCINGOBJECT")),
                            tableColumns(noteStoreDb, QStringLiteral("ZICNOTEDATA")));
    ShowSQLForm(dm, noteStoreDb, statements, parent);
}

void showNotesTable(TdmGlobal& dm, const QString& notesDb, QWidget* parent)
{
    const QStringList statements = notesStatements();
    ShowSQLForm(dm, notesDb, statements, parent);
}

void showCalendarTable(TdmGlobal& dm, const QString& calendarDb, QWidget* parent)
{
    const QStringList statements = calendarStatements();
    ShowSQLForm(dm, calendarDb, statements, parent);
}

void showContactTable(TdmGlobal& dm, const QString& contactsDb, QWidget* parent)
{
    const QStringList statements = contactStatements();
    TFormSQL form(dm, contactsDb, statements, parent);
    form.saveVCard = [contactsDb](const QString& file) {
        writeFileReplacing(file, addressBookVCards(contactsDb));
    };
    form.initGUI();
    form.exec();
}
