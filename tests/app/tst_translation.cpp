#include "SampleBackup.h"
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "app/FormProgress.h"
#include "app/Language.h"
#include "chat/ChatFixture.h"
#include "chat/ChatSchemes.h"
#include "chat/FormChat.h"
#include "chat/FormChatList.h"
#include "media/FormImage.h"
#include "media/FormPhoto.h"
#include "media/FormRecording.h"
#include "media/FormVideo.h"
#include "tables/FormSQL.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDirIterator>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTabBar>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>

#include <functional>
#include <memory>

// Under a Chinese locale every text a user sees is Chinese: the program's own (from
// Lang/zh.txt, found the way the program finds it) and Qt's (its dialogs, from Qt's
// translations). The windows are made and walked for their texts; the messages, made at run
// time, are found in the sources: every text handed to a message box or thrown as an error
// has an entry, and the entry is Chinese with the same placeholders.
class TestTranslation final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void everyMessageOfTheSourcesHasAnEntry();
    void entriesAreChinese();
    void mainWindowAndItsDialogs();
    void chatWindows();
    void mediaWindows();
    void tableWindow();
    void messageBox();
    void messageMadeAtRunTime_data();
    void messageMadeAtRunTime();

private:
    struct Text
    {
        QString where;
        QString text;
    };
    // The texts w shows: its title, buttons, labels, tabs, headers of its tree views,
    // tooltips, actions. Item views' rows and combo boxes hold data and are left out, but for
    // the named combo boxes (a file dialog's filters).
    static QList<Text> textsOf(QWidget* w, const QStringList& comboBoxes = {});
    // Fails on every text of w that has Latin letters and no Chinese.
    void expectChinese(QWidget* w, const QStringList& comboBoxes = {});
    // Runs step on the next modal window of type W (checked every 20 ms until timeoutMs).
    template <class W> void onNextModal(std::function<void(W*)> step, int timeoutMs = 20000);

    QTemporaryDir m_dir;
    QString m_savedCwd;
    TLanguageTable m_table;
    int m_checked = 0;
};

namespace {

bool isChinese(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x3400 && u <= 0x9FFF) || (u >= 0x3000 && u <= 0x303F) ||
           (u >= 0xFF00 && u <= 0xFFEF);
}

bool hasChinese(const QString& text)
{
    return std::any_of(text.begin(), text.end(), isChinese);
}

bool hasLatinLetters(QString text)
{
    // Placeholders and file patterns are no words.
    static const QRegularExpression noise(QStringLiteral("%\\d|\\*\\.\\w+"));
    text.remove(noise);
    return text.contains(QRegularExpression(QStringLiteral("[A-Za-z]")));
}

QString plainText(QString text)
{
    static const QRegularExpression tags(QStringLiteral("<[^>]*>"));
    text.remove(tags);
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text.trimmed();
}

QStringList placeholders(const QString& text)
{
    QStringList found;
    static const QRegularExpression re(QStringLiteral("%[1-9]"));
    for (auto it = re.globalMatch(text); it.hasNext();)
        found << it.next().captured();
    found.sort();
    return found;
}

// --- The sources' messages -----------------------------------------------------------------

// The text with its comments blanked out; string and character literals stay.
QString withoutComments(const QString& src)
{
    QString out = src;
    for (qsizetype i = 0; i < out.size(); ++i) {
        const QChar c = out[i];
        if (c == u'"' || c == u'\'') {
            for (++i; i < out.size() && out[i] != c; ++i)
                if (out[i] == u'\\')
                    ++i;
        } else if (c == u'/' && i + 1 < out.size() && out[i + 1] == u'/') {
            while (i < out.size() && out[i] != u'\n')
                out[i++] = u' ';
        } else if (c == u'/' && i + 1 < out.size() && out[i + 1] == u'*') {
            while (i + 1 < out.size() && !(out[i] == u'*' && out[i + 1] == u'/'))
                out[i] = out[i] == u'\n' ? u'\n' : u' ', ++i;
            if (i + 1 < out.size())
                out[i] = out[i + 1] = u' ';
        }
    }
    return out;
}

// From an opening bracket at open, the index of its closing one (-1 when there is none).
qsizetype closingOf(const QString& s, qsizetype open)
{
    const QChar o = s[open], c = o == u'(' ? u')' : u'}';
    int depth = 0;
    for (qsizetype i = open; i < s.size(); ++i) {
        if (s[i] == u'"' || s[i] == u'\'') {
            const QChar q = s[i];
            for (++i; i < s.size() && s[i] != q; ++i)
                if (s[i] == u'\\')
                    ++i;
        } else if (s[i] == o) {
            ++depth;
        } else if (s[i] == c && --depth == 0) {
            return i;
        }
    }
    return -1;
}

// The arguments of a call, split at its top-level commas.
QStringList argumentsOf(const QString& args)
{
    QStringList parts;
    int depth = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QChar c = args[i];
        if (c == u'"' || c == u'\'') {
            for (++i; i < args.size() && args[i] != c; ++i)
                if (args[i] == u'\\')
                    ++i;
        } else if (c == u'(' || c == u'{' || c == u'[') {
            ++depth;
        } else if (c == u')' || c == u'}' || c == u']') {
            --depth;
        } else if (c == u',' && depth == 0) {
            parts << args.mid(start, i - start);
            start = i + 1;
        }
    }
    parts << args.mid(start);
    return parts;
}

QString unescape(const QString& literal)
{
    QString text;
    for (qsizetype i = 0; i < literal.size(); ++i) {
        if (literal[i] != u'\\' || i + 1 >= literal.size()) {
            text += literal[i];
            continue;
        }
        const QChar e = literal[++i];
        text += e == u'n' ? QChar(u'\n') : e == u't' ? QChar(u'\t') : e == u'r' ? QChar(u'\r') : e;
    }
    return text;
}

// The message an expression starts with: a string literal (or several side by side), bare or
// in QStringLiteral and the like. A message continued with "+" ends in a placeholder, as
// its table entry does. Null when the expression does not start with a literal.
QString leadingMessage(const QString& expression)
{
    static const QRegularExpression re(QStringLiteral(
        R"(^\s*(?:(?:QStringLiteral|QLatin1String|QLatin1StringView|QString::fromUtf8|QString)\s*\(\s*)?)"
        R"(((?:(?:u8|u|L)?"(?:[^"\\]|\\.)*"\s*)+)\)?\s*(\+)?)"));
    const QRegularExpressionMatch m = re.match(expression);
    if (!m.hasMatch())
        return {};
    QString text;
    static const QRegularExpression piece(QStringLiteral(R"re("((?:[^"\\]|\\.)*)")re"));
    for (auto it = piece.globalMatch(m.captured(1)); it.hasNext();)
        text += unescape(it.next().captured(1));
    if (!m.captured(2).isEmpty())
        text += QStringLiteral("%1");
    return text;
}

struct SourceMessage
{
    QString text;
    QString where;
};

// Every text of the sources that reaches a user: the translated texts (tr), the messages of
// message boxes and of failures (ShowMessage, showFailure, failure, showMessage, Error,
// translate and translateMessage), and what the describe... functions return.
QList<SourceMessage> sourceMessages(const QString& folder)
{
    static const QRegularExpression call(QStringLiteral(
        R"(\b(tr|Error|ShowMessage|showFailure|failure|showMessage|translate|translateMessage)\s*\()"));
    static const QRegularExpression describe(
        QStringLiteral(R"(\bQString\s+describe\w*\s*\([^)]*\)\s*\{)"));
    static const QRegularExpression returns(QStringLiteral(R"(\breturn\b([^;]*);)"));
    QList<SourceMessage> found;
    QDirIterator it(folder, {QStringLiteral("*.cpp"), QStringLiteral("*.h")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString src = withoutComments(QString::fromUtf8(file.readAll()));
        const QString name = QDir(folder).relativeFilePath(path);
        auto add = [&](const QString& text, qsizetype at) {
            if (text.isNull() || !hasLatinLetters(text))
                return;
            found.push_back(
                {text, QStringLiteral("%1:%2").arg(name).arg(src.left(at).count(u'\n') + 1)});
        };
        for (auto m = call.globalMatch(src); m.hasNext();) {
            const QRegularExpressionMatch c = m.next();
            const qsizetype open = c.capturedEnd() - 1;
            const qsizetype close = closingOf(src, open);
            if (close < 0)
                continue;
            const QStringList args = argumentsOf(src.mid(open + 1, close - open - 1));
            const bool contextFirst = c.captured(1) == QLatin1String("translate");
            if (args.size() > (contextFirst ? 1 : 0))
                add(leadingMessage(args.at(contextFirst ? 1 : 0)), c.capturedStart());
        }
        for (auto m = describe.globalMatch(src); m.hasNext();) {
            const QRegularExpressionMatch d = m.next();
            const qsizetype close = closingOf(src, d.capturedEnd() - 1);
            const QString body = src.mid(d.capturedEnd(), close - d.capturedEnd());
            for (auto r = returns.globalMatch(body); r.hasNext();) {
                const QRegularExpressionMatch ret = r.next();
                add(leadingMessage(ret.captured(1)), d.capturedEnd() + ret.capturedStart());
            }
        }
    }
    return found;
}

} // namespace

template <class W> void TestTranslation::onNextModal(std::function<void(W*)> step, int timeoutMs)
{
    auto* timer = new QTimer(this);
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    connect(timer, &QTimer::timeout, this, [timer, step, deadline] {
        auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
        if (!w || !w->isVisible()) {
            if (deadline->hasExpired())
                timer->deleteLater();
            return;
        }
        timer->deleteLater();
        // Outside the timer's slot: the step may close the window, which ends its event loop.
        QTimer::singleShot(0, w, [step, w] { step(w); });
    });
    timer->start(20);
}

QList<TestTranslation::Text> TestTranslation::textsOf(QWidget* w, const QStringList& comboBoxes)
{
    QList<Text> texts;
    auto add = [&](const QObject* o, const char* what, const QString& text) {
        const QString plain = plainText(text);
        if (!plain.isEmpty())
            texts.push_back({QStringLiteral("%1 %2 (%3)")
                                 .arg(QLatin1String(o->metaObject()->className()), o->objectName(),
                                      QLatin1String(what)),
                             plain});
    };
    add(w, "title", w->windowTitle());
    QList<QWidget*> widgets = w->findChildren<QWidget*>();
    widgets.prepend(w);
    for (QWidget* c : widgets) {
        add(c, "tooltip", c->toolTip());
        if (auto* b = qobject_cast<QAbstractButton*>(c))
            add(b, "text", b->text());
        if (auto* l = qobject_cast<QLabel*>(c))
            add(l, "text", l->text());
        if (auto* g = qobject_cast<QGroupBox*>(c))
            add(g, "title", g->title());
        if (auto* e = qobject_cast<QLineEdit*>(c))
            add(e, "placeholder", e->placeholderText());
        if (auto* m = qobject_cast<QMenu*>(c))
            add(m, "title", m->title());
        if (auto* t = qobject_cast<QTabBar*>(c)) {
            for (int i = 0; i < t->count(); ++i) {
                add(t, "tab", t->tabText(i));
                add(t, "tab tooltip", t->tabToolTip(i));
            }
        }
        if (auto* v = qobject_cast<QTreeView*>(c); v && v->model() && !v->isHeaderHidden()) {
            for (int i = 0; i < v->model()->columnCount(); ++i)
                add(v, "header", v->model()->headerData(i, Qt::Horizontal).toString());
        }
        if (auto* box = qobject_cast<QComboBox*>(c);
            box && comboBoxes.contains(box->objectName())) {
            for (int i = 0; i < box->count(); ++i)
                add(box, "item", box->itemText(i));
        }
        for (const QAction* a : c->actions()) {
            add(a, "action", a->text());
            add(a, "action tooltip", a->toolTip());
        }
    }
    for (const QAction* a : w->findChildren<QAction*>()) {
        add(a, "action", a->text());
        add(a, "action tooltip", a->toolTip());
    }
    return texts;
}

void TestTranslation::expectChinese(QWidget* w, const QStringList& comboBoxes)
{
    const QList<Text> texts = textsOf(w, comboBoxes);
    QVERIFY2(!texts.isEmpty(), w->metaObject()->className());
    QStringList english;
    for (const Text& t : texts) {
        if (hasLatinLetters(t.text) && !hasChinese(t.text))
            english << t.where + QStringLiteral(": ") + t.text;
    }
    english.removeDuplicates();
    m_checked += int(texts.size());
    for (const QString& e : english)
        qWarning("English in %s: %s", w->metaObject()->className(), qUtf8Printable(e));
    QVERIFY2(english.isEmpty(), qPrintable(QStringLiteral("%1 shows %2 English texts (above)")
                                               .arg(QLatin1String(w->metaObject()->className()))
                                               .arg(english.size())));
}

void TestTranslation::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_DATA_HOME", m_dir.filePath("data").toUtf8());
    qputenv("TMPDIR", m_dir.filePath("tmp").toUtf8());
    QVERIFY(QDir().mkpath(m_dir.filePath("tmp")));
    m_table = TLanguageTable::load(QStringLiteral(FERROWICK_SOURCE_DIR "/Lang/zh.txt"));

    // As the program starts for a Chinese user, in the folder of the sources.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    m_savedCwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QStringLiteral(FERROWICK_SOURCE_DIR)));
    LoadUserLanguage();
    // Qt's own texts need Qt's translations of this locale.
    QVERIFY2(QFileInfo::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) +
                               QStringLiteral("/qtbase_zh_CN.qm")),
             "Qt's Chinese translations are not installed (qt6-translations-l10n)");
    QCOMPARE(QCoreApplication::translate("QFileDialog", "Look in:"), QStringLiteral("查找范围："));
    QCOMPARE(QCoreApplication::translate("TFormMain", "Next"), QStringLiteral("下一步"));
}

void TestTranslation::cleanupTestCase()
{
    removeLanguageTable();
    QLocale::setDefault(QLocale::c());
    QDir::setCurrent(m_savedCwd);
    qInfo("%d texts of windows checked", m_checked);
}

void TestTranslation::everyMessageOfTheSourcesHasAnEntry()
{
    const QList<SourceMessage> messages =
        sourceMessages(QStringLiteral(FERROWICK_SOURCE_DIR "/src"));
    // The scan finds what it looks for: texts of each kind are known to be there.
    QStringList texts;
    for (const SourceMessage& m : messages)
        texts << m.text;
    for (const char* known : {"Next", "Export Video sucessfully", "cannot open database %1: %2",
                              "%1 is not a SQLite database", "Failed to open the file:%1",
                              "Invalid XML payload: %1 (at offset %2)", "Position:%1/Duration:%2"})
        QVERIFY2(texts.contains(QLatin1String(known)), known);

    QStringList missing;
    for (const SourceMessage& m : messages) {
        const QString translation = m_table.lookup(m.text);
        if (translation.isNull())
            missing << QStringLiteral("%1: %2").arg(m.where, m.text);
        else if (placeholders(translation) != placeholders(m.text))
            missing << QStringLiteral("%1: %2 (placeholders differ in %3)")
                           .arg(m.where, m.text, translation);
    }
    missing.removeDuplicates();
    // One line each: a message's length is limited.
    for (const QString& m : missing)
        qWarning("no Chinese entry: %s", qUtf8Printable(m));
    QVERIFY2(
        missing.isEmpty(),
        qPrintable(QStringLiteral("%1 texts have no Chinese entry (above)").arg(missing.size())));
}

void TestTranslation::entriesAreChinese()
{
    QFile file(QStringLiteral(FERROWICK_SOURCE_DIR "/Lang/zh.txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QStringList wrong;
    int entries = 0;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        ++entries;
        const QString source = line.left(equals), translation = line.mid(equals + 1).trimmed();
        if (!hasChinese(translation) || placeholders(source) != placeholders(translation))
            wrong << line;
    }
    QVERIFY(entries > 0);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n'))));
}

void TestTranslation::mainWindowAndItsDialogs()
{
    TdmGlobal dm;
    TFormMain form(dm);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.windowTitle(), QStringLiteral("铁芯备份查看器 1.0"));
    expectChinese(&form);

    // Browse and Export open Qt's own file dialogs with the program's titles.
    bool browsed = false, exported = false;
    onNextModal<QFileDialog>([&](QFileDialog* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("指定备份信息文件"));
        expectChinese(dialog, {QStringLiteral("fileTypeCombo")});
        browsed = true;
        dialog->reject();
    });
    form.btnBrowse->click();
    QVERIFY(browsed);

    onNextModal<QFileDialog>([&](QFileDialog* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("导出到"));
        expectChinese(dialog);
        exported = true;
        dialog->reject();
    });
    form.actExport->trigger();
    QVERIFY(exported);

    TFormProgress progress(&form);
    progress.show();
    expectChinese(&progress);
}

void TestTranslation::chatWindows()
{
    wechat::Database db;
    db.friends = {{QStringLiteral("wxid_alice"), QStringLiteral("Alice"), {}, 3}};
    db.chats[QStringLiteral("wxid_alice")] = {{1462104000, QStringLiteral("Hi"), 1, 0, 1}};
    ChatFixture fx(accountBackup(db));
    TFormChat chat(fx.dbPath, fx.recordDict, fx.backupPath, fx.root);
    chat.InitFriends();
    chat.show();
    expectChinese(&chat);

    TFormChatList chooser({QStringLiteral("Alice"), QStringLiteral("Bob")});
    chooser.show();
    expectChinese(&chooser);
}

void TestTranslation::mediaWindows()
{
    const QString photo = m_dir.filePath("IMG_0001.JPG");
    QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(photo, "JPG"));
    std::vector<TExportFile> list(2);
    list[0] = {photo, photo, QStringLiteral("100APPLE")};
    list[1] = {m_dir.filePath("IMG_0002.MOV"), m_dir.filePath("IMG_0002.MOV"),
               QStringLiteral("100APPLE")};

    TFormPhoto camera;
    camera.FPhotos = &list;
    camera.InitGUI();
    camera.show();
    expectChinese(&camera);

    TFormRecording recordings;
    recordings.FRecordings = &list;
    recordings.initGUI();
    recordings.show();
    expectChinese(&recordings);

    TFormImage image;
    image.show();
    expectChinese(&image);
    // Save asks for a folder in Qt's dialog.
    bool asked = false;
    onNextModal<QFileDialog>([&](QFileDialog* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("保存图片到"));
        expectChinese(dialog);
        asked = true;
        dialog->reject();
    });
    image.FFile = &list[0];
    image.btnSaveClick();
    QVERIFY(asked);

    TFormVideo video(list[1]);
    video.show();
    video.tmrUpdateTimer();
    video.actPauseUpdate();
    QVERIFY2(video.lblDuration->text().startsWith(QStringLiteral("位置")),
             qPrintable(video.lblDuration->text()));
    expectChinese(&video);
    asked = false;
    onNextModal<QFileDialog>([&](QFileDialog* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("保存视频到"));
        asked = true;
        dialog->reject();
    });
    video.btnSaveClick();
    QVERIFY(asked);
}

void TestTranslation::tableWindow()
{
    const QString file = m_dir.filePath("table.db");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "make");
        db.setDatabaseName(file);
        QVERIFY(db.open());
        QVERIFY(QSqlQuery(db).exec(QStringLiteral("create table t (a text)")));
        db.close();
    }
    QSqlDatabase::removeDatabase("make");
    TdmGlobal dm;
    const QStringList statements = {QStringLiteral("select a from t")}; // borrowed by the window
    TFormSQL form(dm, file, statements);
    form.initGUI();
    form.show();
    expectChinese(&form);
    // Save asks for the file in Qt's save dialog, with the program's filter.
    bool asked = false;
    onNextModal<QFileDialog>([&](QFileDialog* dialog) {
        QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("CSV 文件 (*.csv)")});
        expectChinese(dialog, {QStringLiteral("fileTypeCombo")});
        asked = true;
        dialog->reject();
    });
    form.btnSave->click();
    QVERIFY(asked);

    // A failed statement: its box, title, text and button, in Chinese.
    bool shown = false;
    onNextModal<QMessageBox>([&](QMessageBox* box) {
        expectChinese(box);
        shown = true;
        box->accept();
    });
    TFormSQL failed(dm, m_dir.filePath("missing.db"), statements);
    failed.initGUI();
    QVERIFY(shown);
}

void TestTranslation::messageBox()
{
    // The program's message boxes: title, text and button.
    QStringList seen;
    onNextModal<QMessageBox>([&](QMessageBox* box) {
        expectChinese(box);
        seen << box->windowTitle() << box->text();
        box->accept();
    });
    ShowMessage(QStringLiteral("Export Video sucessfully"));
    QCOMPARE(seen, (QStringList{QStringLiteral("铁芯备份查看器"), QStringLiteral("导出视频成功")}));
}

void TestTranslation::messageMadeAtRunTime_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a path") << "database file not found: /b/ab/abcdef"
                            << "找不到数据库文件：/b/ab/abcdef";
    QTest::newRow("a path and the database's words")
        << "cannot open database /b/x: unable to open database file"
        << "无法打开数据库 /b/x：unable to open database file";
    QTest::newRow("three pieces") << "cannot copy /a to /b: No space left on device"
                                  << "无法将 /a 复制到 /b：No space left on device";
    QTest::newRow("continued text") << "Failed to open the file:/x.mp4 Invalid data"
                                    << "无法打开文件：/x.mp4 Invalid data";
    QTest::newRow("the longer entry wins") << "/b/sms.db is not a SQLite database"
                                           << "/b/sms.db 不是 SQLite 数据库";
}

void TestTranslation::messageMadeAtRunTime()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QStringList received;
    setMessageSink([&](const QString& text, bool) { received << text; });
    ShowMessage(message);
    setMessageSink({});
    QCOMPARE(received, QStringList{shown});
}

int main(int argc, char* argv[])
{
    registerChatSchemes();
    TApplication app(argc, argv);
    TestTranslation test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_translation.moc"
