#include "PhoneBackupFixture.h"
#include "app/DmGlobal.h"
#include "app/Language.h"
#include "tables/FormSQL.h"
#include "tables/PersonalDataQueries.h"
#include "tables/PersonalDataTables.h"
#include "tables/QueryResult.h"
#include "util/Error.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>

#include <deque>
#include <functional>
#include <memory>

namespace {

// Answers the modal windows that will appear, in order: each step waits for a modal window of
// its type, looks at it and closes it.
class ModalScript final : public QObject
{
public:
    ModalScript()
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalScript::poll);
        m_timer.start(10);
    }

    template <class W> void then(std::function<void(W*)> step)
    {
        m_steps.push_back({[](QWidget* w) { return qobject_cast<W*>(w) != nullptr; },
                           [step](QWidget* w) { step(qobject_cast<W*>(w)); }});
    }

    bool finished() const { return m_steps.empty(); }

private:
    struct Step
    {
        std::function<bool(QWidget*)> matches;
        std::function<void(QWidget*)> run;
    };

    void poll()
    {
        QWidget* w = QApplication::activeModalWidget();
        if (m_steps.empty() || !w || !w->isVisible() || !m_steps.front().matches(w))
            return;
        // Run outside the timer's slot: a step may open a nested modal window, and a timer does
        // not fire again while its own slot runs.
        const Step step = m_steps.front();
        m_steps.pop_front();
        QTimer::singleShot(0, w, [step, w] { step.run(w); });
    }

    QTimer m_timer;
    std::deque<Step> m_steps;
};

QStringList headers(const QTableView* view)
{
    QStringList names;
    for (int c = 0; c < view->model()->columnCount(); ++c)
        names << view->model()->headerData(c, Qt::Horizontal).toString();
    return names;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestFormSQL : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void showsEveryRow();
    void failureShowsMessageAndEmptyWindow_data();
    void failureShowsMessageAndEmptyWindow();
    void tablesOfTheWizard();
    void saveButtonWritesTheCsv();
    void cancelledSaveWritesNothing();
    void saveRefusesWhenTheConnectionMovedOn();
    void textsGoThroughTheTranslationTable();

private:
    std::unique_ptr<PhoneBackupFixture> m_backup;
};

void TestFormSQL::initTestCase()
{
    useFixedTimeZone();
    m_backup = std::make_unique<PhoneBackupFixture>();
}

void TestFormSQL::showsEveryRow()
{
    TdmGlobal dm;
    const QStringList statements = smsStatements();
    ModalScript unexpected;
    bool messageShown = false;
    unexpected.then<QMessageBox>([&](QMessageBox* box) {
        messageShown = true;
        box->done(QMessageBox::Ok);
    });
    TFormSQL form(dm, m_backup->sms, statements);
    form.initGUI();
    QVERIFY(!messageShown);
    QCOMPARE(form.windowTitle(), QStringLiteral("Information"));
    QCOMPARE(form.btnClose->text(), QStringLiteral("Close"));
    QCOMPARE(form.btnSave->text(), QStringLiteral("Save"));
    QCOMPARE(headers(form.lvSQL), (QStringList{QStringLiteral("Date"), QStringLiteral("Number"),
                                               QStringLiteral("Text")}));
    QCOMPARE(form.lvSQL->model()->rowCount(), 6);
    QCOMPARE(form.lvSQL->verticalHeader()->defaultSectionSize(), 21);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.lvSQL->rowHeight(0), 21);
    const QModelIndex first = form.lvSQL->model()->index(0, 0);
    QCOMPARE(first.data().toString(), QString()); // dated 0: no date
    QVERIFY(
        form.lvSQL->model()->index(1, 0).data().toString().startsWith(QLatin1String("2013-12-1")));
}

void TestFormSQL::failureShowsMessageAndEmptyWindow_data()
{
    QTest::addColumn<QString>("db");
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QString>("message");
    QTest::newRow("missing database")
        << m_backup->folder + QStringLiteral("/ab/missing.db") << smsStatements()
        << QStringLiteral("database file not found");
    QTest::newRow("broken database")
        << m_backup->folder + QStringLiteral("/Info.plist") << notesStatements()
        << QStringLiteral("is not a SQLite database");
    QTest::newRow("no address book")
        << m_backup->callHistory << callHistoryStatements(m_backup->folder)
        << QStringLiteral("unable to open database");
}

void TestFormSQL::failureShowsMessageAndEmptyWindow()
{
    QFETCH(QString, db);
    QFETCH(QStringList, statements);
    QFETCH(QString, message);
    TdmGlobal dm;
    QString shown;
    ModalScript script;
    script.then<QMessageBox>([&](QMessageBox* box) {
        shown = box->text();
        box->done(QMessageBox::Ok);
    });
    script.then<TFormSQL>([&](TFormSQL* form) {
        QCOMPARE(form->windowTitle(), QStringLiteral("Information"));
        QCOMPARE(form->lvSQL->model()->columnCount(), 0);
        QCOMPARE(form->lvSQL->model()->rowCount(), 0);
        // Save has nothing to write.
        const QString csv = QDir(m_backup->temp.path()).filePath(QStringLiteral("failed.csv"));
        QVERIFY_THROWS_EXCEPTION(Error, form->saveCsv(csv));
        QVERIFY(!QFile::exists(csv));
        form->btnClose->click();
    });
    ShowSQLForm(dm, db, statements, nullptr);
    QVERIFY(script.finished());
    QVERIFY2(shown.contains(message), qPrintable(shown));
}

void TestFormSQL::tablesOfTheWizard()
{
    // The five entry points one after the other on one shared connection: each window shows its
    // own database and returns once closed.
    TdmGlobal dm;
    const PhoneBackupFixture& b = *m_backup;
    QList<QPair<QString, int>> seen;
    ModalScript script;
    for (int i = 0; i < 5; ++i) {
        script.then<TFormSQL>([&](TFormSQL* form) {
            seen.append({headers(form->lvSQL).value(0), form->lvSQL->model()->rowCount()});
            form->btnClose->click();
        });
    }
    showContactTable(dm, b.contacts, nullptr);
    showSmsTable(dm, b.sms, nullptr);
    showCallHistoryTable(dm, b.callHistory, b.contacts, nullptr);
    showNotesTable(dm, b.notes, nullptr);
    showCalendarTable(dm, b.calendar, nullptr);
    QVERIFY(script.finished());
    // Contacts keep the person without a number (left join); every call is listed, also the
    // one of a number in nobody's card.
    const QList<QPair<QString, int>> expected{{QStringLiteral("Prefix"), 5},
                                              {QStringLiteral("Date"), 6},
                                              {QStringLiteral("Row"), 4},
                                              {QStringLiteral("Title"), 3},
                                              {QStringLiteral("Title"), 3}};
    QCOMPARE(seen, expected);
}

void TestFormSQL::saveButtonWritesTheCsv()
{
    TdmGlobal dm;
    const QString csv = QDir(m_backup->temp.path()).filePath(QStringLiteral("calls.csv"));
    QString success;
    ModalScript script;
    script.then<TFormSQL>([](TFormSQL* form) { form->btnSave->click(); });
    script.then<QFileDialog>([&](QFileDialog* dialog) {
        QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
        QVERIFY(dialog->nameFilters().join(QLatin1Char(';')).contains(QLatin1String("*.csv")));
        // Typed as a user would: the dialog's selectFile() waits for its folder to load.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        QVERIFY(name);
        QCOMPARE(name->text(), QStringLiteral("export.csv"));
        name->setText(csv);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog makes accept() protected
    });
    script.then<QMessageBox>([&](QMessageBox* box) {
        success = box->text();
        box->done(QMessageBox::Ok);
    });
    script.then<TFormSQL>([](TFormSQL* form) { form->btnClose->click(); });
    showCallHistoryTable(dm, m_backup->callHistory, m_backup->contacts, nullptr);
    QVERIFY(script.finished());
    QCOMPARE(success, QStringLiteral("Export csv successfully"));
    const QByteArray bytes = readAll(csv);
    // The headers the table shows, and the time in the local zone (UTC+8 here).
    QVERIFY(bytes.startsWith("\xef\xbb\xbfRow,Number,Date,Duration,Flags,Person,First Name,"
                             "Last Name\r\n"));
    QVERIFY(bytes.endsWith("\r\n"));
    QCOMPARE(bytes.count("\r\n"), 5); // header and four calls
    QVERIFY(bytes.contains(
        "3,+49 30 1234567,2014-01-18 07:06:40,305,4,2,Zo\xc3\xab,M\xc3\xbcller-L\xc3\xbc"
        "denscheid\r\n"));
}

void TestFormSQL::cancelledSaveWritesNothing()
{
    TdmGlobal dm;
    const QStringList statements = notesStatements();
    TFormSQL form(dm, m_backup->notes, statements);
    form.initGUI();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    bool messageShown = false;
    ModalScript script;
    script.then<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
    script.then<QMessageBox>([&](QMessageBox* box) {
        messageShown = true;
        box->done(QMessageBox::Ok);
    });
    const QStringList before = QDir::current().entryList(QDir::Files);
    form.btnSaveClick();
    QTest::qWait(100);
    QVERIFY(!messageShown);
    QCOMPARE(QDir::current().entryList(QDir::Files), before);
}

void TestFormSQL::saveRefusesWhenTheConnectionMovedOn()
{
    // Save runs the query again on the shared connection; once another user has pointed it at
    // another file, that would write the other file's rows under this table's name.
    TdmGlobal dm;
    const QStringList statements = smsStatements();
    TFormSQL form(dm, m_backup->sms, statements);
    form.initGUI();
    const QString csv = QDir(m_backup->temp.path()).filePath(QStringLiteral("moved.csv"));
    form.saveCsv(csv);
    QVERIFY(QFile::remove(csv));
    QueryResult other;
    runStatements(dm, m_backup->notes, notesStatements(), other);
    QVERIFY_THROWS_EXCEPTION(Error, form.saveCsv(csv));
    QVERIFY(!QFile::exists(csv));
}

void TestFormSQL::textsGoThroughTheTranslationTable()
{
    TTableTranslator translator(
        TLanguageTable::load(QStringLiteral(FERROWICK_SOURCE_DIR "/Lang/zh.txt")));
    QVERIFY(!translator.isEmpty());
    QVERIFY(QCoreApplication::installTranslator(&translator));
    TdmGlobal dm;
    const QString csv = QDir(m_backup->temp.path()).filePath(QStringLiteral("translated.csv"));
    QStringList texts;
    ModalScript script;
    auto saveAs = [&](QFileDialog* dialog) {
        texts << dialog->nameFilters();
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(csv);
        static_cast<QDialog*>(dialog)->accept();
    };
    auto answer = [&](QMessageBox* box) {
        texts << box->text();
        box->done(QMessageBox::Ok);
    };
    // A table whose query failed: Save has nothing to write.
    script.then<QMessageBox>([](QMessageBox* box) { box->done(QMessageBox::Ok); });
    script.then<TFormSQL>([&](TFormSQL* form) {
        texts << form->windowTitle() << form->btnClose->text() << form->btnSave->text();
        form->btnSave->click();
    });
    script.then<QFileDialog>(saveAs);
    script.then<QMessageBox>(answer);
    script.then<TFormSQL>([](TFormSQL* form) { form->btnClose->click(); });
    const QStringList failing{QStringLiteral("select no_such_column from message")};
    ShowSQLForm(dm, m_backup->sms, failing, nullptr);
    QVERIFY(!QFile::exists(csv));
    // A good one saves.
    script.then<TFormSQL>([](TFormSQL* form) { form->btnSave->click(); });
    script.then<QFileDialog>(saveAs);
    script.then<QMessageBox>(answer);
    script.then<TFormSQL>([](TFormSQL* form) { form->btnClose->click(); });
    showNotesTable(dm, m_backup->notes, nullptr);
    QCoreApplication::removeTranslator(&translator);

    QVERIFY(script.finished());
    QVERIFY(QFile::exists(csv));
    QCOMPARE(texts, (QStringList{QString::fromUtf8("信息"), QString::fromUtf8("关闭"),
                                 QString::fromUtf8("保存"), QString::fromUtf8("CSV 文件 (*.csv)"),
                                 QString::fromUtf8("没有可保存的表格：查询失败。"),
                                 QString::fromUtf8("CSV 文件 (*.csv)"),
                                 QString::fromUtf8("导出 CSV 成功")}));
}

QTEST_MAIN(TestFormSQL)
#include "tst_formsql.moc"
