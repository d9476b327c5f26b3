#include "tables/PersonalDataTables.h"

#include "tables/FormSQL.h"
#include "tables/PersonalDataQueries.h"
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
