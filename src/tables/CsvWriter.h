#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QIODevice;
class QSqlQuery;

// CSV as the table window saves it: UTF-8 with a byte-order mark, fields joined by ",", every
// line (the last too) ended by CR LF. A field holding a comma, a double quote, a CR or an LF is
// put in double quotes with its inner quotes doubled; every other field is written as it is.
class CsvWriter final
{
public:
    CsvWriter();
    // Writes to out as it goes (in blocks of about 1 MiB) instead of keeping the text: a table
    // of a million rows is saved with flat memory. finish() writes the rest.
    explicit CsvWriter(QIODevice* out);

    void addLine(const QStringList& fields);
    // A line field by field: addField for each, then endLine.
    void addField(const QString& field);
    void endLine();
    // The file's bytes, byte-order mark included (not for a writer with a device).
    QByteArray bytes() const;
    // Writes what is left to the device. Throws an Error when it cannot write.
    void finish();

private:
    void flushIfLarge();

    QString m_text;
    QIODevice* m_out = nullptr;
    bool m_lineStarted = false;
};

// Runs statement again on query (a forward-only query cannot rewind) and returns the CSV of
// its result: the header of column display names, then one line per row. Statements run on the
// connection before, such as an ATTACH, stay in effect. Throws an Error when the query fails.
QByteArray queryToCsv(QSqlQuery& query, const QString& statement);

// Runs statement again on query, as queryToCsv, and streams the CSV into path: the old file
// stays untouched when anything fails. Throws an Error naming the path.
void saveQueryAsCsv(QSqlQuery& query, const QString& statement, const QString& path);

// Writes bytes to path, creating the file or replacing its contents; the old contents stay
// untouched when writing fails. Throws an Error naming the path.
void writeFileReplacing(const QString& path, const QByteArray& bytes);
