#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>

class QPlainTextEdit;
class QTableView;
class QToolBar;
class QToolButton;
class QueryResultModel;
class TdmGlobal;

// The table window: the result of the last of a list of statements run on one database of the
// backup, savable as CSV. Works on the shared connection and query of the data module.
class TFormSQL final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormSQL)

public:
    // statements is the caller's list; it must outlive the window.
    TFormSQL(TdmGlobal& dm, const QString& db, const QStringList& statements,
             QWidget* parent = nullptr);
    ~TFormSQL() override;

    // Opens FDb, runs the statements and loads every row. A failure is shown in a message box
    // and leaves the table with what was read before it (as a rule nothing).
    void initGUI();

    // Writes the CSV of the result to file; throws an Error when the query failed or the file
    // cannot be written.
    void saveCsv(const QString& file);

    const QueryResultModel& model() const { return *m_model; }

    // The selected row, column by column ("Header: value"), as the pane below the table shows
    // it; empty when no row is selected.
    QString detailText() const;

    QString FDb;
    const QStringList& FSQL;
    // When set, Save also offers a vCard file, which this writes (it throws an Error on failure).
    std::function<void(const QString& file)> saveVCard;

    QToolBar* tlbMain = nullptr;
    QToolButton* btnClose = nullptr;
    QToolButton* btnSave = nullptr;
    QTableView* lvSQL = nullptr;
    QPlainTextEdit* memDetail = nullptr; // the selected row in full: long notes and messages

public slots:
    void btnSaveClick();

private:
    void showFailure(const QString& text);
    void sizeColumns();
    void showSelectedRow();

    TdmGlobal& m_dm;
    QueryResultModel* m_model = nullptr; // owned by this window
    QString m_openDatabase;              // the connection's file while the table's query is valid
};

// Shows the table window modally for statements run on db and returns when the user closed it.
void ShowSQLForm(TdmGlobal& dm, const QString& db, const QStringList& statements, QWidget* parent);
