#include "tables/PersonalDataTables.h"

#include "tables/FormSQL.h"
#include "tables/PersonalDataQueries.h"

#include <QStringList>

void showSmsTable(TdmGlobal& dm, const QString& smsDb, QWidget* parent)
{
    const QStringList statements = smsStatements();
    ShowSQLForm(dm, smsDb, statements, parent);
}

void showCallHistoryTable(TdmGlobal& dm, const QString& callHistoryDb, const QString& contactsDb,
                          QWidget* parent)
{
    const QStringList statements = callHistoryStatements(contactsDb);
    ShowSQLForm(dm, callHistoryDb, statements, parent);
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
    ShowSQLForm(dm, contactsDb, statements, parent);
}
