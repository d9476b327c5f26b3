#include "tables/VCard.h"

#include "util/Error.h"
#include "util/Sqlite.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QHash>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Text value escaping of RFC 2426 section 4: backslash, comma, semicolon and line breaks.
QString escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\\') || c == QLatin1Char(',') || c == QLatin1Char(';'))
            out += QLatin1Char('\\') + QString(c);
        else if (c == QLatin1Char('\r')) {
            if (i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            out += QLatin1String("\\n");
        } else if (c == QLatin1Char('\n'))
            out += QLatin1String("\\n");
        else if (c.unicode() < 0x20 && c != QLatin1Char('\t'))
            continue; // no other control character may stand in a value
        else
            out += c;
    }
    return out;
}

// Appends one content line, folded so that no line exceeds 75 octets; a fold never splits a
// UTF-8 sequence.
void addLine(QByteArray& out, const QString& line)
{
    const QByteArray utf8 = line.toUtf8();
    qsizetype at = 0;
    qsizetype limit = 75;
    while (utf8.size() - at > limit) {
        qsizetype cut = at + limit;
        while (cut > at && (quint8(utf8[cut]) & 0xc0) == 0x80)
            --cut;
        out += utf8.mid(at, cut - at);
        out += "\r\n ";
        at = cut;
        limit = 74; // the leading space counts
    }
    out += utf8.mid(at);
    out += "\r\n";
}

void addText(QByteArray& out, const char* name, const QString& value)
{
    if (!value.trimmed().isEmpty())
        addLine(out, QLatin1String(name) + QLatin1Char(':') + escaped(value));
}

QStringList typesOfLabel(const QString& label, bool phone)
{
    // The address book's own labels look like "_$!<Mobile>!$_"; custom ones are plain text.
    QString name = label;
    if (name.startsWith(QLatin1String("_$!<")) && name.endsWith(QLatin1String(">!$_")))
        name = name.mid(4, name.size() - 8);
    name = name.toLower();
    QStringList types;
    if (name == QLatin1String("mobile") || name == QLatin1String("iphone"))
        types << QStringLiteral("CELL");
    else if (name == QLatin1String("home"))
        types << QStringLiteral("HOME");
    else if (name == QLatin1String("work"))
        types << QStringLiteral("WORK");
    else if (name == QLatin1String("homefax"))
        types << QStringLiteral("HOME") << QStringLiteral("FAX");
    else if (name == QLatin1String("workfax"))
        types << QStringLiteral("WORK") << QStringLiteral("FAX");
    else if (name == QLatin1String("pager"))
        types << QStringLiteral("PAGER");
    if (phone && types.isEmpty())
        types << QStringLiteral("VOICE");
    return types;
}

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("vcard-%1").arg(counter.fetchAndAddRelaxed(1));
}

QString textOf(const QSqlQuery& q, int column)
{
    return q.value(column).isNull() ? QString() : q.value(column).toString();
}

} // namespace

QByteArray vCardOf(const TVCardPerson& p)
{
    QByteArray out;
    addLine(out, QStringLiteral("BEGIN:VCARD"));
    addLine(out, QStringLiteral("VERSION:3.0"));
    QStringList name;
    for (const QString* part : {&p.prefix, &p.first, &p.middle, &p.last, &p.suffix})
        if (!part->trimmed().isEmpty())
            name << part->trimmed();
    // FN may not be empty: a card without a name goes by its company or its first number.
    QString formatted = name.join(QLatin1Char(' '));
    if (formatted.isEmpty())
        formatted = p.organization.trimmed();
    if (formatted.isEmpty() && !p.entries.empty())
        formatted = p.entries.front().value.trimmed();
    if (formatted.isEmpty())
        formatted = QStringLiteral("?");
    addLine(out, QStringLiteral("FN:") + escaped(formatted));
    addLine(out, QStringLiteral("N:%1;%2;%3;%4;%5")
                     .arg(escaped(p.last), escaped(p.first), escaped(p.middle), escaped(p.prefix),
                          escaped(p.suffix)));
    addText(out, "NICKNAME", p.nickname);
    if (!p.organization.trimmed().isEmpty() || !p.department.trimmed().isEmpty())
        addLine(
            out,
            p.department.trimmed().isEmpty()
                ? QStringLiteral("ORG:") + escaped(p.organization)
                : QStringLiteral("ORG:%1;%2").arg(escaped(p.organization), escaped(p.department)));
    addText(out, "TITLE", p.jobTitle);
    if (p.birthday.isValid())
        addLine(out, QStringLiteral("BDAY:") + p.birthday.toString(Qt::ISODate));
    for (const TVCardEntry& e : p.entries) {
        if (e.value.trimmed().isEmpty())
            continue;
        QString line = e.property;
        if (!e.types.isEmpty())
            line += QStringLiteral(";TYPE=") + e.types.join(QLatin1Char(','));
        addLine(out, line + QLatin1Char(':') + escaped(e.value.trimmed()));
    }
    addText(out, "NOTE", p.note);
    addLine(out, QStringLiteral("END:VCARD"));
    return out;
}

std::vector<TVCardPerson> readAddressBook(const QString& path)
{
    const QString name = nextConnectionName();
    std::vector<TVCardPerson> people;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        const auto remove = qScopeGuard([&] {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(name);
        });
        openReadOnlyDatabase(db, path);
        QSqlQuery q(db);
        q.setForwardOnly(true);
        if (!q.exec(QStringLiteral(
                "SELECT ROWID, Prefix, First, Middle, Last, Suffix, Nickname, Organization, "
                "Department, JobTitle, Note, Birthday FROM ABPerson ORDER BY ROWID")))
            throw Error(describeSqlError(q.lastError(), path));
        QHash<qint64, size_t> byRow;
        while (q.next()) {
            TVCardPerson p;
            p.prefix = textOf(q, 1);
            p.first = textOf(q, 2);
            p.middle = textOf(q, 3);
            p.last = textOf(q, 4);
            p.suffix = textOf(q, 5);
            p.nickname = textOf(q, 6);
            p.organization = textOf(q, 7);
            p.department = textOf(q, 8);
            p.jobTitle = textOf(q, 9);
            p.note = textOf(q, 10);
            bool isNumber = false;
            const double birthday = q.value(11).toString().trimmed().toDouble(&isNumber);
            if (isNumber)
                p.birthday =
                    QDateTime::fromSecsSinceEpoch(qint64(birthday) + 978307200, Qt::UTC).date();
            byRow.insert(q.value(0).toLongLong(), people.size());
            people.push_back(std::move(p));
        }
        const bool labels = tableColumns(path, QStringLiteral("ABMultiValueLabel"))
                                .contains(QLatin1String("value"));
        const QString statement =
            labels ? QStringLiteral("SELECT mv.record_id, mv.property, l.value, mv.value FROM "
                                    "ABMultiValue mv LEFT JOIN ABMultiValueLabel l ON l.ROWID = "
                                    "mv.label ORDER BY mv.record_id, mv.UID")
                   : QStringLiteral("SELECT record_id, property, NULL, value FROM ABMultiValue "
                                    "ORDER BY record_id, UID");
        if (!q.exec(statement))
            throw Error(describeSqlError(q.lastError(), path));
        while (q.next()) {
            const auto it = byRow.constFind(q.value(0).toLongLong());
            if (it == byRow.constEnd())
                continue;
            // 3 phone, 4 e-mail, 22 web address; postal addresses keep their parts elsewhere.
            const int property = q.value(1).toInt();
            const QString label = textOf(q, 2);
            TVCardEntry e;
            e.value = textOf(q, 3);
            if (property == 3) {
                e.property = QStringLiteral("TEL");
                e.types = typesOfLabel(label, true);
            } else if (property == 4) {
                e.property = QStringLiteral("EMAIL");
                e.types = QStringList{QStringLiteral("INTERNET")} + typesOfLabel(label, false);
            } else if (property == 22) {
                e.property = QStringLiteral("URL");
            } else {
                continue;
            }
            people[*it].entries.push_back(std::move(e));
        }
    }
    return people;
}

QByteArray addressBookVCards(const QString& path)
{
    QByteArray out;
    for (const TVCardPerson& person : readAddressBook(path))
        out += vCardOf(person);
    return out;
}
