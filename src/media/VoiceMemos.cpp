#include "media/VoiceMemos.h"

#include "util/Error.h"
#include "util/Sqlite.h"

#include <QAtomicInt>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cmath>

namespace {

QString nextConnectionName()
{
    static QAtomicInt counter;
    return QStringLiteral("voicememos-%1").arg(counter.fetchAndAddRelaxed(1));
}

QString columnOr(const QStringList& columns, const char* name)
{
    return columns.contains(QLatin1String(name), Qt::CaseInsensitive) ? QLatin1String(name)
                                                                      : QStringLiteral("NULL");
}

quint32 be32(const char* p)
{
    return (quint32(quint8(p[0])) << 24) | (quint32(quint8(p[1])) << 16) |
           (quint32(quint8(p[2])) << 8) | quint32(quint8(p[3]));
}

// The payload of the first child atom of type within data (a sequence of atoms).
std::optional<QByteArrayView> childAtom(QByteArrayView data, const char* type)
{
    qsizetype at = 0;
    while (data.size() - at >= 8) {
        quint64 size = be32(data.data() + at);
        qsizetype header = 8;
        if (size == 1) {
            if (data.size() - at < 16)
                return std::nullopt;
            size = (quint64(be32(data.data() + at + 8)) << 32) | be32(data.data() + at + 12);
            header = 16;
        } else if (size == 0) {
            size = quint64(data.size() - at); // to the end
        }
        if (size < quint64(header) || size > quint64(data.size() - at))
            return std::nullopt;
        if (data.sliced(at + 4, 4) == QByteArrayView(type, 4))
            return data.sliced(at + header, qsizetype(size) - header);
        at += qsizetype(size);
    }
    return std::nullopt;
}

} // namespace

std::vector<TVoiceMemo> readVoiceMemos(const QString& path)
{
    const QStringList columns = tableColumns(path, QStringLiteral("ZCLOUDRECORDING"));
    if (columns.isEmpty())
        throw Error(QStringLiteral("%1 holds no voice memos").arg(path));
    const QString name = nextConnectionName();
    std::vector<TVoiceMemo> memos;
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
        const QString statement =
            QStringLiteral("SELECT %1, %2, %3, %4, %5, %6 FROM ZCLOUDRECORDING ORDER BY %4")
                .arg(columnOr(columns, "ZPATH"), columnOr(columns, "ZCUSTOMLABEL"),
                     columnOr(columns, "ZCUSTOMLABELFORSORTING"), columnOr(columns, "ZDATE"),
                     columnOr(columns, "ZDURATION"), columnOr(columns, "ZEVICTIONDATE"));
        if (!q.exec(statement))
            throw Error(describeSqlError(q.lastError(), path));
        while (q.next()) {
            TVoiceMemo memo;
            // Older models keep a full path of the phone here, newer ones the file name.
            const QString stored = q.value(0).toString();
            memo.fileName = stored.mid(stored.lastIndexOf(QLatin1Char('/')) + 1);
            if (memo.fileName.isEmpty())
                continue;
            memo.label = q.value(1).toString().trimmed();
            if (memo.label.isEmpty())
                memo.label = q.value(2).toString().trimmed();
            if (!q.value(3).isNull()) {
                // Seconds since 2001-01-01 UTC.
                const double cocoa = q.value(3).toDouble();
                if (std::isfinite(cocoa) && std::abs(cocoa) < 1e11)
                    memo.date = QDateTime::fromSecsSinceEpoch(qint64(cocoa) + 978307200)
                                    .toLocalTime()
                                    .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            }
            memo.duration = q.value(4).toDouble();
            memo.recentlyDeleted = !q.value(5).isNull();
            memos.push_back(std::move(memo));
        }
    }
    return memos;
}

std::optional<QString> mp4TitleTag(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return mp4TitleTag(file);
}

std::optional<QString> mp4TitleTag(QIODevice& file)
{
    // Walk the top level by headers alone: the audio (mdat) may come first and be large.
    QByteArray moov;
    const qint64 total = file.size();
    qint64 at = 0;
    while (total - at >= 8) {
        if (!file.seek(at))
            return std::nullopt;
        const QByteArray head = file.read(16);
        if (head.size() < 8)
            return std::nullopt;
        quint64 size = be32(head.constData());
        qint64 header = 8;
        if (size == 1) {
            if (head.size() < 16)
                return std::nullopt;
            size = (quint64(be32(head.constData() + 8)) << 32) | be32(head.constData() + 12);
            header = 16;
        } else if (size == 0) {
            size = quint64(total - at);
        }
        if (size < quint64(header) || size > quint64(total - at))
            return std::nullopt;
        if (head.mid(4, 4) == "moov") {
            if (size > 64 * 1024 * 1024)
                return std::nullopt;
            file.seek(at + header);
            moov = file.read(qint64(size) - header);
            break;
        }
        at += qint64(size);
    }
    std::optional<QByteArrayView> atom = childAtom(moov, "udta");
    if (atom)
        atom = childAtom(*atom, "meta");
    // meta is a full atom: version and flags come before its children.
    if (atom && atom->size() >= 4)
        atom = childAtom(atom->sliced(4), "ilst");
    else
        atom.reset();
    if (atom)
        atom = childAtom(*atom, "\xa9nam");
    if (atom)
        atom = childAtom(*atom, "data");
    // data: type (4 bytes, 1 = UTF-8) and locale (4 bytes), then the text.
    if (!atom || atom->size() < 8 || be32(atom->data()) != 1)
        return std::nullopt;
    const QString title = QString::fromUtf8(atom->sliced(8)).trimmed();
    if (title.isEmpty())
        return std::nullopt;
    return title;
}

QString memoTitle(const TVoiceMemo& memo, const std::optional<QString>& titleTag)
{
    if (!memo.label.isEmpty())
        return memo.label;
    if (titleTag && !titleTag->isEmpty())
        return *titleTag;
    return QFileInfo(memo.fileName).completeBaseName();
}

QString memoSaveName(const QString& title, const QString& fileName)
{
    QString name;
    for (const QChar c : title) {
        // Separators, characters Windows file systems refuse, and control characters.
        if (c.unicode() < 0x20 || QStringLiteral("/\\:*?\"<>|").contains(c))
            name += QLatin1Char('_');
        else
            name += c;
    }
    name = name.trimmed();
    while (name.startsWith(QLatin1Char('.')))
        name.remove(0, 1);
    if (name.size() > 120)
        name.truncate(120);
    const QString suffix = QFileInfo(fileName).suffix();
    if (name.isEmpty())
        name = QFileInfo(fileName).completeBaseName();
    if (name.isEmpty())
        name = QStringLiteral("recording");
    return suffix.isEmpty() ? name : name + QLatin1Char('.') + suffix;
}

QString formatDuration(double seconds)
{
    const qint64 s = std::isfinite(seconds) && seconds > 0 ? qint64(std::llround(seconds)) : 0;
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s % 3600 / 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}
