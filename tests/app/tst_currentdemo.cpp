// The second demo backup ("Ferrowick Demo iPhone 15") in the real main window: Call History,
// Notes, Contact and Recording show the current formats' data in their windows; the notes'
// full text is readable below the table; contacts save as vCard; a voice memo plays and saves
// under its title. Around it: a listed database without its stored copy, and an unencrypted
// backup of iOS 13 or later without call history, each said plainly and without a window.
#include "CurrentDatabases.h"
#include "SampleBackup.h"
#include "SampleEncryption.h"
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "media/FormRecording.h"
#include "media/FormVideo.h"
#include "media/MediaDialogs.h"
#include "tables/FormSQL.h"
#include "tables/PhoneBackupFixture.h"
#include "tables/QueryResult.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStackedWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Runs step on the next modal window of type W once it is shown (checked every 20 ms).
template <class W> void onNextModal(std::function<void(W*)> step, int timeoutMs = 30000)
{
    auto* timer = new QTimer;
    auto left = std::make_shared<int>(timeoutMs / 20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step, left] {
        auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
        if ((!w || !w->isVisible()) && --*left > 0)
            return;
        timer->stop();
        timer->deleteLater();
        if (w)
            step(w);
    });
    timer->start(20);
}

QStringList row(const QueryResultModel& model, int r)
{
    QStringList cells;
    for (int c = 0; c < model.columnCount(); ++c)
        cells << model.result().cell(r, c);
    return cells;
}

int rowWith(const QueryResultModel& model, int column, const QString& text)
{
    for (int r = 0; r < model.rowCount(); ++r)
        if (model.result().cell(r, column) == text)
            return r;
    return -1;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestCurrentDemo : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void callHistoryWindow();
    void notesWindowShowsTheWholeNote();
    void contactsSaveAsVCard();
    void voiceMemosPlayAndSaveUnderTheirTitles();
    void missingCopyIsSaidPlainly_data();
    void missingCopyIsSaidPlainly();
    void callHistoryLeftOutOfUnencryptedBackups_data();
    void callHistoryLeftOutOfUnencryptedBackups();
    void encryptedDemoShowsTheSameRecords();
    void voiceMemosWithoutTheirDatabase_data();
    void voiceMemosWithoutTheirDatabase();

private:
    std::unique_ptr<TFormMain> load(const QString& folder, const QString& password = {});

    QTemporaryDir m_dir;
    QString m_demo;
    std::unique_ptr<TdmGlobal> m_dm;
    QStringList m_messages;
    QStringList m_errors;
};

void TestCurrentDemo::initTestCase()
{
    useFixedTimeZone(); // UTC+8
    QVERIFY(m_dir.isValid());
    qputenv("XDG_DATA_HOME", m_dir.filePath("data").toUtf8());
    m_demo = m_dir.filePath("demo");
    SampleBackup::demoCurrent().write(m_demo);
}

void TestCurrentDemo::init()
{
    m_dm = std::make_unique<TdmGlobal>();
    m_messages.clear();
    m_errors.clear();
    setMessageSink([this](const QString& text, bool isError) {
        (isError ? m_errors : m_messages).append(text);
    });
}

void TestCurrentDemo::cleanup()
{
    setMessageSink({});
    setMediaFolderChooser({});
    m_dm.reset();
}

std::unique_ptr<TFormMain> TestCurrentDemo::load(const QString& folder, const QString& password)
{
    auto form = std::make_unique<TFormMain>(*m_dm);
    form->show();
    form->askPassword = [password]() -> std::optional<QString> { return password; };
    form->chooseBackupFile = [folder] { return QDir(folder).filePath("Info.plist"); };
    form->btnBrowse->click();
    form->actNext->trigger();
    if (form->tbcMain->currentWidget() != form->tabMain)
        return nullptr;
    return form;
}

void TestCurrentDemo::callHistoryWindow()
{
    auto form = load(m_demo);
    QVERIFY(form);
    QVERIFY(form->actCallHis->isEnabled());
    QStringList columns;
    QList<QStringList> rows;
    onNextModal<TFormSQL>([&](TFormSQL* w) {
        for (int c = 0; c < w->model().columnCount(); ++c)
            columns << w->model().headerData(c, Qt::Horizontal).toString();
        for (int r = 0; r < w->model().rowCount(); ++r)
            rows << row(w->model(), r);
        w->btnClose->click();
    });
    form->actCallHis->trigger();
    QVERIFY2(m_errors.isEmpty() && m_messages.isEmpty(),
             qPrintable((m_errors + m_messages).join('\n')));
    QCOMPARE(columns, (QStringList{"Date", "Number", "Name", "Direction", "Duration", "Service"}));
    QCOMPARE(rows.size(), 7);
    QCOMPARE(rows[0], (QStringList{"2023-03-09 04:26:40", "+86 138 0013 8000",
                                   QString::fromUtf8("伟 张"), "Outgoing", "0:01:02", "Phone"}));
    QCOMPARE(rows[3][5], QStringLiteral("FaceTime Video"));
    QCOMPARE(rows[2][3], QStringLiteral("Missed"));
}

void TestCurrentDemo::notesWindowShowsTheWholeNote()
{
    auto form = load(m_demo);
    QVERIFY(form);
    QVERIFY(form->actNotes->isEnabled());
    QString detail, locked, emptyDetail, cell;
    int rows = -1;
    int textWidth = 0, viewWidth = 0;
    onNextModal<TFormSQL>([&](TFormSQL* w) {
        rows = w->model().rowCount();
        emptyDetail = w->memDetail->toPlainText();
        const int trip = rowWith(w->model(), 0, "Trip diary");
        const int pins = rowWith(w->model(), 0, "Bank PINs");
        if (trip < 0 || pins < 0)
            return;
        locked = w->model().result().cell(pins, 4);
        cell = w->lvSQL->model()->index(trip, 4).data().toString();
        // A click on the row, as the user makes it.
        const QModelIndex index = w->lvSQL->model()->index(trip, 0);
        w->lvSQL->scrollTo(index);
        QTest::mouseClick(w->lvSQL->viewport(), Qt::LeftButton, {},
                          w->lvSQL->visualRect(index).center());
        detail = w->memDetail->toPlainText();
        textWidth = w->lvSQL->columnWidth(4);
        viewWidth = w->lvSQL->width();
        w->btnClose->click();
    });
    form->actNotes->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QCOMPARE(rows, 5); // the one marked for deletion is left out
    QCOMPARE(locked, QStringLiteral("Locked"));
    // In the table the note is one line, not cut at its first line break.
    QVERIFY2(cell.startsWith(QStringLiteral("Trip diary Day 1: walked")),
             qPrintable(cell.left(80)));
    QVERIFY(emptyDetail.isEmpty());
    // The long note in full, which no table cell shows.
    QVERIFY2(detail.contains(CurrentDatabases::longNoteText()), qPrintable(detail.left(200)));
    QVERIFY(detail.startsWith(QStringLiteral("Title: Trip diary\nFolder: Travel\n")));
    // Its column is sized to its content but kept inside a readable width.
    QVERIFY2(textWidth > 100 && textWidth <= 320, qPrintable(QString::number(textWidth)));
    QVERIFY(viewWidth > 0);
}

void TestCurrentDemo::contactsSaveAsVCard()
{
    auto form = load(m_demo);
    QVERIFY(form);
    QVERIFY(form->actContact->isEnabled());
    const QString file = m_dir.filePath("contacts.vcf");
    QStringList filters;
    QString success;
    int rows = -1;
    onNextModal<TFormSQL>([&](TFormSQL* w) {
        rows = w->model().rowCount();
        onNextModal<QFileDialog>([&](QFileDialog* dialog) {
            filters = dialog->nameFilters();
            dialog->selectNameFilter(filters.value(1));
            auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            if (name)
                name->setText(file);
            static_cast<QDialog*>(dialog)->accept();
        });
        onNextModal<QMessageBox>([&](QMessageBox* box) {
            success = box->text();
            box->done(QMessageBox::Ok);
        });
        w->btnSave->click();
        w->btnClose->click();
    });
    form->actContact->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    QCOMPARE(rows, 5); // four entries of two people, and Olaf without any
    QCOMPARE(filters, (QStringList{"CSV File (*.csv)", "vCard File (*.vcf)"}));
    QCOMPARE(success, QStringLiteral("Export vCard successfully"));
    const QByteArray vcf = readAll(file);
    QCOMPARE(vcf.count("BEGIN:VCARD\r\n"), 3);
    QVERIFY(vcf.contains("TEL;TYPE=CELL:+8613800138000\r\n"));
    QVERIFY(vcf.contains("FN:Olaf Ohnenummer\r\n"));
}

void TestCurrentDemo::voiceMemosPlayAndSaveUnderTheirTitles()
{
    auto form = load(m_demo);
    QVERIFY(form);
    QVERIFY(form->actRecording->isEnabled());
    QTemporaryDir out;
    setMediaFolderChooser([&](QWidget*, const QString&) { return out.path(); });
    QStringList lines;
    QString playing;
    onNextModal<TFormRecording>([&](TFormRecording* w) {
        for (int i = 0; i < w->lstRecording->count(); ++i)
            lines << w->lstRecording->item(i)->text();
        onNextModal<TFormVideo>([&](TFormVideo* video) {
            playing = video->FFile.srcFile;
            video->btnSave->click();
            video->btnClose->click();
        });
        w->lstRecording->setCurrentRow(0);
        w->lstRecordingDblClick();
        w->btnClose->click();
    });
    form->actRecording->trigger();
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
    // Titles each way the app keeps them, in local time; the memo offloaded to iCloud is
    // absent; the recently deleted one says so.
    const QString gap = QStringLiteral("    ");
    QCOMPARE(lines,
             (QStringList{QString::fromUtf8("Interview: Zoë / part 1") + gap +
                              "2023-11-05 18:15:00" + gap + "0:01",
                          "Band practice" + gap + "2024-02-13 03:30:00" + gap + "0:01",
                          "Kitchen idea" + gap + "2024-03-01 16:00:00" + gap + "0:01",
                          "20240315 120000-3A4B5C6D" + gap + "2024-03-15 20:00:00" + gap + "0:01",
                          "Old reminder" + gap + "2024-03-20 15:00:00" + gap +
                              "0:01 (Recently Deleted)"}));
    // Saved under its title, with the characters no file name may hold replaced.
    const QString saved =
        QDir(out.path()).filePath(QString::fromUtf8("Interview_ Zoë _ part 1.m4a"));
    QVERIFY2(QFile::exists(saved), qPrintable(QDir(out.path()).entryList().join('|')));
    QCOMPARE(readAll(saved), readAll(playing));
    QVERIFY(readAll(saved).size() > 1000);
}

void TestCurrentDemo::missingCopyIsSaidPlainly_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("message");
    QTest::newRow("notes") << "AppDomainGroup-group.com.apple.notes"
                           << "NoteStore.sqlite"
                           << "actNotes"
                           << "This backup does not contain the notes.";
    QTest::newRow("call history") << "HomeDomain"
                                  << "Library/CallHistoryDB/CallHistory.storedata"
                                  << "actCallHis"
                                  << "This backup does not contain the call history.";
    QTest::newRow("contacts") << "HomeDomain"
                              << "Library/AddressBook/AddressBook.sqlitedb"
                              << "actContact"
                              << "This backup does not contain the contacts.";
    QTest::newRow("voice memos") << "AppDomainGroup-group.com.apple.VoiceMemos.shared"
                                 << "Recordings/CloudRecordings.db"
                                 << "actRecording"
                                 << "This backup does not contain the voice memos.";
}

void TestCurrentDemo::missingCopyIsSaidPlainly()
{
    QFETCH(QString, domain);
    QFETCH(QString, path);
    QFETCH(QString, action);
    QFETCH(QString, message);
    SampleBackup b;
    b.addMissingFile(domain, path);
    const QString folder = m_dir.filePath(QStringLiteral("missing-") + action);
    b.write(folder);
    auto form = load(folder);
    QVERIFY(form);
    auto* act = form->findChild<QAction*>(action);
    QVERIFY(act && act->isEnabled()); // the catalog lists it
    bool windowShown = false;
    QTimer::singleShot(0, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            windowShown = true;
            w->close();
        }
    });
    act->trigger();
    QCoreApplication::processEvents();
    QVERIFY(!windowShown);
    QCOMPARE(m_messages, QStringList{message});
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
}

void TestCurrentDemo::callHistoryLeftOutOfUnencryptedBackups_data()
{
    QTest::addColumn<int>("catalog");
    QTest::addColumn<bool>("enabled");
    // Manifest.db backups here come from iOS 17; Manifest.mbdb ones from iOS 9, whose
    // unencrypted backups did hold the call history.
    QTest::newRow("iOS 17") << int(SampleBackup::Catalog::Db) << true;
    QTest::newRow("iOS 9") << int(SampleBackup::Catalog::Mbdb) << false;
}

void TestCurrentDemo::callHistoryLeftOutOfUnencryptedBackups()
{
    QFETCH(int, catalog);
    QFETCH(bool, enabled);
    SampleBackup b;
    b.catalog = SampleBackup::Catalog(catalog);
    b.addFile("HomeDomain", "Library/SMS/sms.db", "sms");
    const QString folder = m_dir.filePath(QStringLiteral("nocalls-%1").arg(catalog));
    b.write(folder);
    auto form = load(folder);
    QVERIFY(form);
    QCOMPARE(form->actCallHis->isEnabled(), enabled);
    if (!enabled)
        return;
    bool windowShown = false;
    QTimer::singleShot(0, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            windowShown = true;
            w->close();
        }
    });
    form->actCallHis->trigger();
    QCoreApplication::processEvents();
    QVERIFY(!windowShown);
    QCOMPARE(m_messages.size(), 1);
    QVERIFY2(m_messages[0].contains("not encrypted") && m_messages[0].contains("iOS 13"),
             qPrintable(m_messages[0]));
}

// Encrypted, the same demo shows the same rows and recordings: every database and recording
// (and the title tag read from one) comes through its decrypted copy.
void TestCurrentDemo::encryptedDemoShowsTheSameRecords()
{
    SampleBackup locked = SampleBackup::demoCurrent();
    locked.encryption = SampleEncryption{"ferrowick", 10, 10, 3};
    const QString folder = m_dir.filePath("locked");
    locked.write(folder);
    auto look = [this](const QString& backup, const QString& password) {
        QStringList seen;
        auto form = load(backup, password);
        if (!form)
            return seen;
        for (QAction* action : {form->actCallHis, form->actNotes, form->actContact}) {
            onNextModal<TFormSQL>([&](TFormSQL* w) {
                for (int r = 0; r < w->model().rowCount(); ++r)
                    seen << action->objectName() + ": " + row(w->model(), r).join('|');
                w->btnClose->click();
            });
            action->trigger();
        }
        onNextModal<TFormRecording>([&](TFormRecording* w) {
            for (int i = 0; i < w->lstRecording->count(); ++i)
                seen << "recording: " + w->lstRecording->item(i)->text();
            w->btnClose->click();
        });
        form->actRecording->trigger();
        return seen;
    };
    const QStringList plain = look(m_demo, QString());
    const QStringList decrypted = look(folder, QStringLiteral("ferrowick"));
    QVERIFY2(m_errors.isEmpty() && m_messages.isEmpty(),
             qPrintable((m_errors + m_messages).join('\n')));
    QCOMPARE(plain.size(), 7 + 5 + 5 + 5);
    QCOMPARE(decrypted, plain);
}

void TestCurrentDemo::voiceMemosWithoutTheirDatabase_data()
{
    QTest::addColumn<bool>("garbageDatabase");
    QTest::newRow("no database") << false;
    QTest::newRow("database unreadable") << true;
}

// Without a readable CloudRecordings.db the recordings are still listed, titled by their tags
// or named by their files; an unreadable database is said.
void TestCurrentDemo::voiceMemosWithoutTheirDatabase()
{
    QFETCH(bool, garbageDatabase);
    const QString domain = QStringLiteral("AppDomainGroup-group.com.apple.VoiceMemos.shared");
    SampleBackup b;
    if (garbageDatabase)
        b.addFile(domain, "Recordings/CloudRecordings.db", QByteArray(4096, 'x'));
    b.addFile(domain, "Recordings/20240301 080000-9C0D1E2F.m4a",
              CurrentDatabases::titledRecording(0.3, 440, "Kitchen idea"));
    b.addFile(domain, "Recordings/20240302 080000-AAAAAAAA.m4a",
              CurrentDatabases::titledRecording(0.3, 440, QString()));
    b.addFile(domain, "Recordings/notes.txt", "not a recording");
    const QString folder = m_dir.filePath(QStringLiteral("memos-%1").arg(garbageDatabase));
    b.write(folder);
    auto form = load(folder);
    QVERIFY(form);
    QVERIFY(form->actRecording->isEnabled());
    QStringList lines;
    onNextModal<TFormRecording>([&](TFormRecording* w) {
        for (int i = 0; i < w->lstRecording->count(); ++i)
            lines << w->lstRecording->item(i)->text();
        w->btnClose->click();
    });
    form->actRecording->trigger();
    QCOMPARE(lines, (QStringList{"Kitchen idea", "20240302 080000-AAAAAAAA"}));
    QCOMPARE(m_messages.size(), garbageDatabase ? 1 : 0);
    QVERIFY2(m_errors.isEmpty(), qPrintable(m_errors.join('\n')));
}

QTEST_MAIN(TestCurrentDemo)
#include "tst_currentdemo.moc"
