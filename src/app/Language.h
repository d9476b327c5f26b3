#pragma once

#include <QHash>
#include <QString>
#include <QTranslator>

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

private:
    QHash<QString, QString> m_entries;
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

private:
    TLanguageTable m_table;
};

// Installs table as the application's translation table, replacing one installed before;
// the application then tells every window to refresh its texts.
void installLanguageTable(TLanguageTable table);
// Removes the installed table, if any.
void removeLanguageTable();
