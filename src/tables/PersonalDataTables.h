#pragma once

#include <QString>

class QWidget;
class TdmGlobal;

// The wizard's record tables. Each takes the stored copies the main window resolved from its
// index and shows the table window modally on the shared connection of dm; it returns when the
// user has closed the window. Failures are shown inside the window.

void showSmsTable(TdmGlobal& dm, const QString& smsDb, QWidget* parent);
// contactsDb is attached for the callers' names; when it is no database the window stays empty.
void showCallHistoryTable(TdmGlobal& dm, const QString& callHistoryDb, const QString& contactsDb,
                          QWidget* parent);
void showNotesTable(TdmGlobal& dm, const QString& notesDb, QWidget* parent);
void showCalendarTable(TdmGlobal& dm, const QString& calendarDb, QWidget* parent);
void showContactTable(TdmGlobal& dm, const QString& contactsDb, QWidget* parent);
