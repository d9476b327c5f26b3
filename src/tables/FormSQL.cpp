#include "tables/FormSQL.h"

#include "app/DmGlobal.h"
#include "app/Language.h"
#include "tables/CsvWriter.h"
#include "tables/QueryResult.h"
#include "util/Error.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

QToolButton* makeButton(QWidget* parent, const QString& name, const QString& text,
                        const QIcon& icon)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setText(text);
    button->setIcon(icon);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setFixedWidth(80);
    return button;
}

} // namespace

TFormSQL::TFormSQL(TdmGlobal& dm, const QString& db, const QStringList& statements, QWidget* parent)
    : QDialog(parent), FDb(db), FSQL(statements), m_dm(dm), m_model(new QueryResultModel(this))
{
    setObjectName(QStringLiteral("TFormSQL"));
    setWindowTitle(tr("Information"));
    resize(640, 480);

    tlbMain = new QToolBar(this);
    tlbMain->setObjectName(QStringLiteral("tlbMain"));
    tlbMain->setFixedHeight(40);
    btnClose = makeButton(tlbMain, QStringLiteral("btnClose"), tr("Close"),
                          QIcon::fromTheme(QStringLiteral("window-close"),
                                           style()->standardIcon(QStyle::SP_DialogCloseButton)));
    btnSave = makeButton(tlbMain, QStringLiteral("btnSave"), tr("Save"),
                         QIcon::fromTheme(QStringLiteral("document-save"),
                                          style()->standardIcon(QStyle::SP_DialogSaveButton)));
    tlbMain->addWidget(btnClose);
    tlbMain->addWidget(btnSave);

    // A view over a model rather than one item per row: 100,000 rows appear at once.
    lvSQL = new QTableView(this);
    lvSQL->setObjectName(QStringLiteral("lvSQL"));
    lvSQL->setModel(m_model);
    lvSQL->setSelectionBehavior(QAbstractItemView::SelectRows);
    lvSQL->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lvSQL->setWordWrap(false);
    lvSQL->setShowGrid(false);
    lvSQL->verticalHeader()->hide();
    lvSQL->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    lvSQL->verticalHeader()->setDefaultSectionSize(21);
    lvSQL->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    lvSQL->horizontalHeader()->setDefaultSectionSize(120);
    // Widths are measured on the first rows only: a million rows would take seconds.
    lvSQL->horizontalHeader()->setResizeContentsPrecision(200);
    m_model->headerText = [](const QString& name) { return translateMessage(name); };

    memDetail = new QPlainTextEdit(this);
    memDetail->setObjectName(QStringLiteral("memDetail"));
    memDetail->setReadOnly(true);
    memDetail->setPlaceholderText(tr("Select a row to read it in full here."));

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("splDetail"));
    splitter->addWidget(lvSQL);
    splitter->addWidget(memDetail);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tlbMain);
    layout->addWidget(splitter, 1);

    connect(btnClose, &QToolButton::clicked, this, &QDialog::accept);
    connect(btnSave, &QToolButton::clicked, this, &TFormSQL::btnSaveClick);
    connect(lvSQL->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TFormSQL::showSelectedRow);
}

TFormSQL::~TFormSQL() = default;

void TFormSQL::initGUI()
{
    QueryResult result;
    QString failure;
    m_openDatabase.clear();
    try {
        runStatements(m_dm, FDb, FSQL, result);
        m_openDatabase = m_dm.connSqlite.databaseName();
    } catch (const Error& e) {
        failure = e.message();
    }
    m_model->setResult(std::move(result)); // after a failure: what was read before it
    sizeColumns();
    if (!failure.isEmpty())
        showFailure(failure);
}

void TFormSQL::sizeColumns()
{
    // To the content, but no column so wide that the others leave the window.
    constexpr int kMaxWidth = 320;
    lvSQL->resizeColumnsToContents();
    QHeaderView* header = lvSQL->horizontalHeader();
    for (int c = 0; c < header->count(); ++c)
        if (header->sectionSize(c) > kMaxWidth)
            header->resizeSection(c, kMaxWidth);
}

QString TFormSQL::detailText() const
{
    const QModelIndex current = lvSQL->selectionModel()->currentIndex();
    if (!current.isValid())
        return {};
    const QueryResult& result = m_model->result();
    const qsizetype row = current.row();
    if (row < 0 || row >= result.rowCount())
        return {};
    QStringList lines;
    for (qsizetype c = 0; c < result.columns.size(); ++c) {
        const QString header = m_model->headerData(int(c), Qt::Horizontal).toString();
        const QString& value = result.cell(row, c);
        // A text of several lines starts on a line of its own.
        lines << (value.contains(QLatin1Char('\n')) ? header + QStringLiteral(":\n") + value
                                                    : header + QStringLiteral(": ") + value);
    }
    return lines.join(QLatin1Char('\n'));
}

void TFormSQL::showSelectedRow()
{
    memDetail->setPlainText(detailText());
}

void TFormSQL::saveCsv(const QString& file)
{
    if (m_openDatabase.isEmpty())
        throw Error(QStringLiteral("There is no table to save: its query failed."));
    // The query runs again on the shared connection; it must still be on this table's file.
    if (m_dm.connSqlite.databaseName() != m_openDatabase || !m_dm.connSqlite.isOpen())
        throw Error(QStringLiteral("The database of this table is no longer open: %1").arg(FDb));
    saveQueryAsCsv(m_dm.qrySQL, FSQL.constLast(), file);
}

void TFormSQL::btnSaveClick()
{
    QFileDialog dlgSave(this, tr("Save"));
    dlgSave.setAcceptMode(QFileDialog::AcceptSave);
    dlgSave.setFileMode(QFileDialog::AnyFile);
    const QString csvFilter = tr("CSV File (*.csv)");
    const QString vCardFilter = tr("vCard File (*.vcf)");
    if (saveVCard)
        dlgSave.setNameFilters({csvFilter, vCardFilter});
    else
        dlgSave.setNameFilter(csvFilter);
    dlgSave.setDefaultSuffix(QStringLiteral("csv"));
    dlgSave.selectFile(QStringLiteral("export.csv"));
    // The proposed name and suffix follow the chosen type.
    connect(&dlgSave, &QFileDialog::filterSelected, &dlgSave, [&](const QString& filter) {
        const bool vCard = filter == vCardFilter;
        dlgSave.setDefaultSuffix(vCard ? QStringLiteral("vcf") : QStringLiteral("csv"));
        dlgSave.selectFile(vCard ? QStringLiteral("contacts.vcf") : QStringLiteral("export.csv"));
    });
    if (dlgSave.exec() != QDialog::Accepted || dlgSave.selectedFiles().isEmpty())
        return;
    const QString file = dlgSave.selectedFiles().constFirst();
    const bool vCard = saveVCard && (dlgSave.selectedNameFilter() == vCardFilter ||
                                     file.endsWith(QLatin1String(".vcf"), Qt::CaseInsensitive));
    try {
        if (vCard)
            saveVCard(file);
        else
            saveCsv(file);
    } catch (const Error& e) {
        showFailure(e.message());
        return;
    }
    QMessageBox::information(this, windowTitle(),
                             vCard ? tr("Export vCard successfully") : tr("Export csv successfully"));
}

void TFormSQL::showFailure(const QString& text)
{
    // Texts made at run time (engine errors, paths) go through the translation table too.
    QMessageBox::warning(this, windowTitle(), translateMessage(text));
}

void ShowSQLForm(TdmGlobal& dm, const QString& db, const QStringList& statements, QWidget* parent)
{
    TFormSQL form(dm, db, statements, parent);
    form.initGUI();
    form.exec();
}
