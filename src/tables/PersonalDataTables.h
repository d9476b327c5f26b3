#pragma once

#include <QString>

class QWidget;
class TdmGlobal;

// The wizard's record tables. Each takes the stored copies the main window resolved from its
// index and shows the table window modally on the shared connection of dm; it returns when the
// user has closed the window. Failures are shown inside the window.

void showSmsTable(TdmGlobal& dm, const QString& smsDb, QWidget* parent);
// contactsDb is attached for the callers' names; empty, the calls are shown without names.
// When it names no database the window stays empty.
void showCallHistoryTable(TdmGlobal& dm, const QString& callHistoryDb, const QString& contactsDb,
                          QWidget* parent);
// CallHistory.storedata of current phones; contactsDb as above.
void showCallRecordsTable(TdmGlobal& dm, const QString& callRecordsDb, const QString& contactsDb,
                          QWidget* parent);
void showNotesTable(TdmGlobal& dm, const QString& notesDb, QWidget* parent);
// NoteStore.sqlite of current phones.
void showNoteStoreTable(TdmGlobal& dm, const QString& noteStoreDb, QWidget* parent);
void showCalendarTable(TdmGlobal& dm, const QString& calendarDb, QWidget* parent);
// Saves as vCard as well as CSV.
void showContactTable(TdmGlobal& dm, const QString& contactsDb, QWidget* parent);
