#pragma once

#include <QHash>
#include <QRegularExpression>
#include <QString>
#include <QTranslator>

#include <vector>

// The ISO 639 name of the user's language ("zh", "en"), from the default locale.
QString GetUserLanguage();

// A translation table: one "source=translation" entry per line of a UTF-8 file (a leading
// byte-order mark is skipped; lines end with CR, LF or CR LF). The source ends at the first
// "=", so a source holding "=" cannot be translated; lines without "=" match nothing; of two
// entries with the same source the first one counts.
class TLanguageTable final
{
public:
    static TLanguageTable parse(const QByteArray& utf8);
    // Throws an Error naming the file when it cannot be read.
    static TLanguageTable load(const QString& file);

    // The translation of source, or a null string when the table has none.
    QString lookup(const QString& source) const { return m_entries.value(source); }
    qsizetype size() const { return m_entries.size(); }

    // A message made at run time from a text with %1..%9 in it (a path, a database's own
    // words): the translation of the entry whose source, its placeholders standing for any
    // text, is the whole message, with those texts put in. Of several such entries the one
    // with the most fixed text counts. A null string when none matches.
    QString lookupMessage(const QString& message) const;

private:
    struct Pattern
    {
        QRegularExpression source;
        std::vector<int> numbers; // the placeholder of each capture, in order
        qsizetype fixedLength = 0;
        QString translation;
    };
    void addPattern(const QString& source, const QString& translation);

    QHash<QString, QString> m_entries;
    std::vector<Pattern> m_patterns; // most fixed text first
};

// Answers every translation request from a table by the source text alone, whatever the
// context, so tr() anywhere in the program goes through the table.
class TTableTranslator final : public QTranslator
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TTableTranslator)

public:
    explicit TTableTranslator(TLanguageTable table, QObject* parent = nullptr);

    QString translate(const char* context, const char* sourceText,
                      const char* disambiguation = nullptr, int n = -1) const override;
    bool isEmpty() const override { return m_table.size() == 0; }
    const TLanguageTable& table() const { return m_table; }

private:
    TLanguageTable m_table;
};

// Installs table as the application's translation table, replacing one installed before;
// the application then tells every window to refresh its texts.
void installLanguageTable(TLanguageTable table);
// Removes the installed table, if any, and Qt's own translations loaded with it.
void removeLanguageTable();

// A message for a message box, in the user's language: the translation of text as it is,
// else of the installed table's entry it was made from (lookupMessage), else text.
QString translateMessage(const QString& text);

// Qt's own translations (its dialogs' buttons, labels and columns) for locale, from Qt's
// translation folder (QLibraryInfo::TranslationsPath; Debian's qt6-translations-l10n). Installed
// after the table, so Qt's texts take Qt's own words. Returns the files loaded.
QStringList installQtTranslations(const QLocale& locale);

// What the main window does at start-up: for a user whose language is Chinese, the table
// Lang/zh.txt (from the working directory, beside the program or from the installed data
// folder) and Qt's own Chinese translations. Throws an Error when the table is missing or
// unreadable; the interface then stays in English.
void LoadUserLanguage();
