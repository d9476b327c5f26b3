#include "chat/MessagesStore.h"

#include "tables/AttributedBody.h"
#include "util/Error.h"
#include "util/Sqlite.h"

#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <limits>

// sms.db, as read here (facts and probing, not a fixed schema):
//   iOS 6 to 18: message (ROWID, guid, text, attributedBody, handle_id, service, date,
//   is_from_me, item_type, group_action_type, group_title, other_handle, date_edited,
//   date_retracted, associated_message_type/_guid/_emoji), handle (ROWID, id), chat (ROWID,
//   chat_identifier, display_name, style, service_name), chat_message_join, chat_handle_join,
//   attachment, message_attachment_join. Reactions are message rows pointing at their target
//   by guid ("p:<part>/<guid>" or "bp:<guid>").
//   iOS 5: msg_group (one conversation each), group_member (address), message (group_id,
//   address, flags, text, date in Unix seconds, madrid_* for iMessage), msg_pieces (MMS parts:
//   text parts and files).
// Columns come and go between versions, so each one read is probed and read as NULL when absent.
// The handle is raw SQLite rather than QSqlDatabase: no thread affinity, and a long
// conversation reads without a QVariant per cell.

namespace {

constexpr qint64 kCocoaEpochMs = 978307200000LL;
constexpr qint64 kNanosecondThreshold = 100000000000LL; // 1e11
constexpr int kReactionFirst = 2000;
constexpr int kRemovalFirst = 3000;
constexpr int kRemovalLast = 3999;

struct DbCloser
{
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using DbPointer = std::unique_ptr<sqlite3, DbCloser>;

struct StmtFinalizer
{
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

class Statement final
{
public:
    Statement(sqlite3* db, const QString& sql, const QString& path) : m_db(db), m_path(path)
    {
        sqlite3_stmt* raw = nullptr;
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(db, utf8.constData(), int(utf8.size()), &raw, nullptr) !=
            SQLITE_OK) {
            sqlite3_finalize(raw);
            throw Error(failure());
        }
        m_stmt.reset(raw);
    }

    void bind(int index, qint64 value) { sqlite3_bind_int64(m_stmt.get(), index, value); }
    void bind(int index, const QString& value)
    {
        const QByteArray utf8 = value.toUtf8();
        sqlite3_bind_text(m_stmt.get(), index, utf8.constData(), int(utf8.size()),
                          SQLITE_TRANSIENT);
    }

    // True while a row is there; throws on a failed step.
    bool next()
    {
        const int rc = sqlite3_step(m_stmt.get());
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        throw Error(failure());
    }

    bool isNull(int c) const { return sqlite3_column_type(m_stmt.get(), c) == SQLITE_NULL; }
    qint64 integer(int c) const
    {
        // A date stored as a REAL still counts seconds; sqlite converts it, truncated.
        return sqlite3_column_int64(m_stmt.get(), c);
    }
    QString text(int c) const
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt.get(), c));
        const int size = sqlite3_column_bytes(m_stmt.get(), c);
        return data ? QString::fromUtf8(data, size) : QString();
    }
    QByteArrayView blob(int c) const
    {
        const void* data = sqlite3_column_blob(m_stmt.get(), c);
        const int size = sqlite3_column_bytes(m_stmt.get(), c);
        return data ? QByteArrayView(static_cast<const char*>(data), size) : QByteArrayView();
    }

private:
    QString failure() const
    {
        return QStringLiteral("%1: %2").arg(m_path, QString::fromUtf8(sqlite3_errmsg(m_db)));
    }

    sqlite3* m_db;
    QString m_path;
    std::unique_ptr<sqlite3_stmt, StmtFinalizer> m_stmt;
};

DbPointer openDatabase(const QString& path)
{
    if (!QFileInfo(path).isFile())
        throw Error(QStringLiteral("database file not found: %1").arg(path));
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(readOnlyUri(path).toUtf8().constData(), &raw,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    DbPointer db(raw);
    if (rc != SQLITE_OK)
        throw Error(QStringLiteral("cannot open database %1: %2")
                        .arg(path, raw ? QString::fromUtf8(sqlite3_errmsg(raw))
                                       : QStringLiteral("out of memory")));
    return db;
}

// Table name (lower case) to its column names (lower case). Throws when the file is no
// database at all.
using TableColumns = QHash<QString, QSet<QString>>;

TableColumns readSchema(sqlite3* db, const QString& path)
{
    TableColumns schema;
    QStringList tables;
    {
        Statement q(db,
                    QStringLiteral("SELECT name FROM sqlite_master WHERE type IN ('table','view')"),
                    path);
        while (q.next())
            tables << q.text(0);
    }
    for (const QString& table : tables) {
        Statement info(db, QStringLiteral("SELECT name FROM pragma_table_info(?1)"), path);
        info.bind(1, table);
        QSet<QString> columns;
        while (info.next())
            columns.insert(info.text(0).toLower());
        schema.insert(table.toLower(), columns);
    }
    return schema;
}

QString stripLeading(const QString& path, bool* stripped)
{
    static const QString prefixes[] = {QStringLiteral("~/"), QStringLiteral("/var/mobile/"),
                                       QStringLiteral("/private/var/mobile/")};
    for (const QString& prefix : prefixes)
        if (path.startsWith(prefix)) {
            *stripped = true;
            return path.mid(prefix.size());
        }
    *stripped = false;
    return path;
}

// A name fit to show and to save under: its last path component, without control characters.
QString safeFileName(const QString& name)
{
    QString last = name.section(QLatin1Char('/'), -1).section(QLatin1Char('\\'), -1);
    last.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
    last = last.trimmed();
    if (last.isEmpty() || last == QLatin1String(".") || last == QLatin1String(".."))
        return QString();
    return last;
}

TMessageAttachment makeAttachment(const QString& filename, const QString& transferName,
                                  const QString& mimeType, const QString& uti, qint64 totalBytes)
{
    TMessageAttachment a;
    a.name = safeFileName(transferName);
    if (a.name.isEmpty())
        a.name = safeFileName(filename);
    if (a.name.isEmpty())
        a.name = QStringLiteral("attachment");
    a.mimeType = mimeType;
    a.uti = uti;
    a.totalBytes = std::max<qint64>(0, totalBytes);
    bool stripped = false;
    const QString relative = stripLeading(filename, &stripped);
    if (stripped && !relative.isEmpty()) {
        a.domain = QStringLiteral("MediaDomain");
        a.path = relative;
    }
    return a;
}

// "p:0/GUID", "bp:GUID" or a bare guid: the guid of the message reacted to.
QString reactionTarget(const QString& associated)
{
    if (associated.startsWith(QLatin1String("p:"))) {
        const qsizetype slash = associated.indexOf(QLatin1Char('/'));
        return slash < 0 ? QString() : associated.mid(slash + 1);
    }
    if (associated.startsWith(QLatin1String("bp:")))
        return associated.mid(3);
    return associated;
}

QString messageText(const Statement& q, int textColumn, int bodyColumn)
{
    QString text = q.text(textColumn);
    if (text.isEmpty() && !q.isNull(bodyColumn))
        text = attributedBodyText(q.blob(bodyColumn)).value_or(QString());
    return text;
}

bool byDate(const TMessage& a, const TMessage& b)
{
    return a.dateMs != b.dateMs ? a.dateMs < b.dateMs : a.rowId < b.rowId;
}

} // namespace

qint64 messageDateMs(qint64 stored, TMessagesStore::Schema schema)
{
    if (stored == 0)
        return 0;
    if (schema == TMessagesStore::Schema::Ios5)
        return stored > std::numeric_limits<qint64>::max() / 1000 ||
                       stored < std::numeric_limits<qint64>::min() / 1000
                   ? 0
                   : stored * 1000;
    if (stored > kNanosecondThreshold || stored < -kNanosecondThreshold)
        return stored / 1000000 + kCocoaEpochMs;
    return stored * 1000 + kCocoaEpochMs;
}

struct TMessagesStore::Impl
{
    QString path;
    DbPointer db;
    TableColumns tables;
    TMessagesStore::Schema schema = TMessagesStore::Schema::Ios6;
    bool chats = false; // chat and chat_message_join exist: conversations are chats

    bool has(const QString& table) const { return tables.contains(table); }
    bool has(const QString& table, const QString& column) const
    {
        const auto it = tables.constFind(table);
        return it != tables.constEnd() && it->contains(column);
    }
    // alias.column when table has it, else NULL.
    QString col(const QString& table, const QString& alias, const QString& column) const
    {
        return has(table, column) ? alias + QLatin1Char('.') + column : QStringLiteral("NULL");
    }
    // The SQL of a message's date in Unix milliseconds, NULL when unset (for MAX()).
    QString dateMsSql(const QString& expr) const
    {
        if (schema == TMessagesStore::Schema::Ios5)
            return QStringLiteral("NULLIF(%1, 0) * 1000").arg(expr);
        return QStringLiteral("CASE WHEN %1 IS NULL OR %1 = 0 THEN NULL "
                              "WHEN abs(%1) > %2 THEN %1 / 1000000 + %3 "
                              "ELSE %1 * 1000 + %3 END")
            .arg(expr)
            .arg(kNanosecondThreshold)
            .arg(kCocoaEpochMs);
    }
    // A condition true for rows that are messages or events, false for reactions.
    QString notReaction(const QString& alias) const
    {
        if (!has(QStringLiteral("message"), QStringLiteral("associated_message_type")))
            return QStringLiteral("1");
        return QStringLiteral("NOT (coalesce(%1.associated_message_type, 0) BETWEEN %2 AND %3)")
            .arg(alias)
            .arg(kReactionFirst)
            .arg(kRemovalLast);
    }

    std::vector<TConversation> conversationsIos6() const;
    std::vector<TConversation> conversationsIos5() const;
    std::vector<TMessage> messagesIos6(qint64 id) const;
    std::vector<TMessage> messagesIos5(qint64 id) const;
};

TMessagesStore::TMessagesStore(const QString& path) : d(std::make_unique<Impl>())
{
    d->path = path;
    d->db = openDatabase(path);
    try {
        d->tables = readSchema(d->db.get(), path);
    } catch (const Error&) {
        throw Error(QStringLiteral("%1 is not a SQLite database").arg(path));
    }
    const QString message = QStringLiteral("message");
    if (d->has(QStringLiteral("msg_group")) && d->has(message)) {
        d->schema = Schema::Ios5;
    } else if (d->has(message) && d->has(QStringLiteral("handle"))) {
        d->schema = Schema::Ios6;
        d->chats = d->has(QStringLiteral("chat")) && d->has(QStringLiteral("chat_message_join"));
    } else {
        throw Error(QStringLiteral("%1 is no Messages database").arg(path));
    }
}

TMessagesStore::~TMessagesStore() = default;

TMessagesStore::Schema TMessagesStore::schema() const
{
    return d->schema;
}

std::vector<TConversation> TMessagesStore::conversations() const
{
    std::vector<TConversation> list =
        d->schema == Schema::Ios5 ? d->conversationsIos5() : d->conversationsIos6();
    std::sort(list.begin(), list.end(), [](const TConversation& a, const TConversation& b) {
        return a.lastDateMs != b.lastDateMs ? a.lastDateMs > b.lastDateMs : a.id > b.id;
    });
    return list;
}

std::vector<TMessage> TMessagesStore::messages(qint64 conversationId) const
{
    std::vector<TMessage> list = d->schema == Schema::Ios5 ? d->messagesIos5(conversationId)
                                                          : d->messagesIos6(conversationId);
    std::stable_sort(list.begin(), list.end(), byDate);
    return list;
}

std::vector<TConversation> TMessagesStore::Impl::conversationsIos6() const
{
    const QString m = QStringLiteral("message");
    std::vector<TConversation> list;
    QHash<qint64, size_t> index;
    if (chats) {
        const QString c = QStringLiteral("chat");
        // Counts first: a chat with no message or event is not listed.
        Statement counts(db.get(),
                         QStringLiteral("SELECT j.chat_id, count(DISTINCT m.ROWID), max(%1) "
                                        "FROM chat_message_join j JOIN message m "
                                        "ON m.ROWID = j.message_id WHERE %2 GROUP BY j.chat_id")
                             .arg(dateMsSql(col(m, QStringLiteral("m"), QStringLiteral("date"))),
                                  notReaction(QStringLiteral("m"))),
                         path);
        QHash<qint64, std::pair<int, qint64>> tally;
        while (counts.next())
            tally.insert(counts.integer(0),
                         {int(std::min<qint64>(counts.integer(1), INT_MAX)), counts.integer(2)});
        Statement q(db.get(),
                    QStringLiteral("SELECT c.ROWID, %1, %2, %3, %4 FROM chat c ORDER BY c.ROWID")
                        .arg(col(c, QStringLiteral("c"), QStringLiteral("display_name")),
                             col(c, QStringLiteral("c"), QStringLiteral("chat_identifier")),
                             col(c, QStringLiteral("c"), QStringLiteral("style")),
                             col(c, QStringLiteral("c"), QStringLiteral("service_name"))),
                    path);
        while (q.next()) {
            const qint64 id = q.integer(0);
            const auto it = tally.constFind(id);
            if (it == tally.constEnd() || index.contains(id))
                continue;
            TConversation conv;
            conv.id = id;
            conv.displayName = q.text(1);
            conv.identifier = q.text(2);
            conv.isGroup = q.integer(3) == 43;
            conv.service = q.text(4);
            conv.messageCount = it->first;
            conv.lastDateMs = it->second;
            index.insert(id, list.size());
            list.push_back(std::move(conv));
        }
        if (has(QStringLiteral("chat_handle_join"))) {
            Statement members(db.get(),
                              QStringLiteral("SELECT j.chat_id, h.id FROM chat_handle_join j "
                                             "JOIN handle h ON h.ROWID = j.handle_id "
                                             "ORDER BY j.chat_id, h.ROWID"),
                              path);
            while (members.next()) {
                const auto it = index.constFind(members.integer(0));
                const QString member = members.text(1);
                if (it != index.constEnd() && !member.isEmpty())
                    list[*it].members << member;
            }
        }
    } else {
        // No chat tables (trimmed or damaged databases): one conversation per handle.
        const QString h = QStringLiteral("handle");
        Statement q(db.get(),
                    QStringLiteral("SELECT coalesce(m.handle_id, 0), count(*), max(%1), h.id, %2 "
                                   "FROM message m LEFT JOIN handle h ON h.ROWID = m.handle_id "
                                   "WHERE %3 GROUP BY coalesce(m.handle_id, 0)")
                        .arg(dateMsSql(col(m, QStringLiteral("m"), QStringLiteral("date"))),
                             col(h, QStringLiteral("h"), QStringLiteral("service")),
                             notReaction(QStringLiteral("m"))),
                    path);
        while (q.next()) {
            TConversation conv;
            conv.id = q.integer(0);
            conv.messageCount = int(std::min<qint64>(q.integer(1), INT_MAX));
            conv.lastDateMs = q.integer(2);
            conv.identifier = q.text(3);
            if (!conv.identifier.isEmpty())
                conv.members << conv.identifier;
            conv.service = q.text(4);
            list.push_back(std::move(conv));
        }
    }
    for (TConversation& conv : list)
        conv.isGroup = conv.isGroup || conv.members.size() > 1;
    return list;
}

std::vector<TMessage> TMessagesStore::Impl::messagesIos6(qint64 id) const
{
    const QString m = QStringLiteral("message");
    const QString a = QStringLiteral("m");
    // The rows of the conversation: through the chat join, or by handle without chat tables.
    const QString from = chats ? QStringLiteral("FROM chat_message_join j JOIN message m "
                                                "ON m.ROWID = j.message_id ")
                               : QStringLiteral("FROM message m ");
    const QString where = chats ? QStringLiteral("j.chat_id = ?1")
                                : QStringLiteral("coalesce(m.handle_id, 0) = ?1");
    const bool otherHandle = has(m, QStringLiteral("other_handle"));

    std::vector<TMessage> list;
    QHash<qint64, size_t> byRow;
    QHash<QString, size_t> byGuid;
    {
        Statement q(
            db.get(),
            QStringLiteral("SELECT m.ROWID, %1, %2, %3, %4, h.id, %5, %6, %7, %8, %9, %10, %11, "
                           "%12, %13 ")
                    .arg(col(m, a, QStringLiteral("guid")), col(m, a, QStringLiteral("text")),
                         col(m, a, QStringLiteral("attributedbody")),
                         col(m, a, QStringLiteral("is_from_me")),
                         // A row without its own service takes its handle's.
                         QStringLiteral("coalesce(NULLIF(%1, ''), %2)")
                             .arg(col(m, a, QStringLiteral("service")),
                                  col(QStringLiteral("handle"), QStringLiteral("h"),
                                      QStringLiteral("service"))),
                         col(m, a, QStringLiteral("date")),
                         col(m, a, QStringLiteral("date_edited")),
                         col(m, a, QStringLiteral("date_retracted")),
                         col(m, a, QStringLiteral("item_type")))
                    .arg(col(m, a, QStringLiteral("group_action_type")),
                         col(m, a, QStringLiteral("group_title")),
                         otherHandle ? QStringLiteral("oh.id") : QStringLiteral("NULL"),
                         col(m, a, QStringLiteral("cache_has_attachments"))) +
                from + QStringLiteral("LEFT JOIN handle h ON h.ROWID = m.handle_id ") +
                (otherHandle ? QStringLiteral("LEFT JOIN handle oh ON oh.ROWID = m.other_handle ")
                             : QString()) +
                QStringLiteral("WHERE ") + where + QStringLiteral(" AND ") + notReaction(a),
            path);
        q.bind(1, id);
        while (q.next()) {
            TMessage msg;
            msg.rowId = q.integer(0);
            if (byRow.contains(msg.rowId))
                continue; // joined twice to the same chat
            msg.guid = q.text(1);
            msg.text = messageText(q, 2, 3);
            msg.fromMe = q.integer(4) != 0;
            if (!msg.fromMe)
                msg.sender = q.text(5);
            msg.service = q.text(6);
            msg.dateMs = messageDateMs(q.integer(7), Schema::Ios6);
            msg.edited = q.integer(8) != 0;
            msg.unsent = q.integer(9) != 0;
            msg.itemType = int(q.integer(10));
            msg.groupActionType = int(q.integer(11));
            msg.groupTitle = q.text(12);
            msg.otherHandle = q.text(13);
            byRow.insert(msg.rowId, list.size());
            if (!msg.guid.isEmpty())
                byGuid.insert(msg.guid, list.size());
            list.push_back(std::move(msg));
        }
    }
    if (list.empty())
        return list;

    const QString at = QStringLiteral("attachment");
    if (has(at) && has(QStringLiteral("message_attachment_join"))) {
        Statement q(db.get(),
                    QStringLiteral("SELECT m.ROWID, %1, %2, %3, %4, %5 ")
                            .arg(col(at, QStringLiteral("a"), QStringLiteral("filename")),
                                 col(at, QStringLiteral("a"), QStringLiteral("transfer_name")),
                                 col(at, QStringLiteral("a"), QStringLiteral("mime_type")),
                                 col(at, QStringLiteral("a"), QStringLiteral("uti")),
                                 col(at, QStringLiteral("a"), QStringLiteral("total_bytes"))) +
                        from +
                        QStringLiteral("JOIN message_attachment_join maj ON maj.message_id = "
                                       "m.ROWID JOIN attachment a ON a.ROWID = maj.attachment_id "
                                       "WHERE ") +
                        where + QStringLiteral(" ORDER BY m.ROWID, a.ROWID"),
                    path);
        q.bind(1, id);
        qint64 lastAttachmentOf = -1;
        QSet<QString> seen; // one message joined to one file twice lists it once
        while (q.next()) {
            const auto it = byRow.constFind(q.integer(0));
            if (it == byRow.constEnd())
                continue;
            if (q.integer(0) != lastAttachmentOf) {
                lastAttachmentOf = q.integer(0);
                seen.clear();
            }
            TMessageAttachment attachment =
                makeAttachment(q.text(1), q.text(2), q.text(3), q.text(4), q.integer(5));
            const QString key = attachment.path + QLatin1Char('\n') + attachment.name;
            if (!attachment.path.isEmpty() && seen.contains(key))
                continue;
            seen.insert(key);
            list[*it].attachments.push_back(std::move(attachment));
        }
    }

    if (has(m, QStringLiteral("associated_message_type")) &&
        has(m, QStringLiteral("associated_message_guid"))) {
        Statement q(
            db.get(),
            QStringLiteral("SELECT m.ROWID, m.associated_message_type, "
                           "m.associated_message_guid, %1, h.id, %2, %3 ")
                    .arg(col(m, a, QStringLiteral("is_from_me")),
                         col(m, a, QStringLiteral("associated_message_emoji")),
                         col(m, a, QStringLiteral("date"))) +
                from + QStringLiteral("LEFT JOIN handle h ON h.ROWID = m.handle_id WHERE ") +
                where +
                QStringLiteral(" AND m.associated_message_type BETWEEN %1 AND %2")
                    .arg(kReactionFirst)
                    .arg(kRemovalLast),
            path);
        q.bind(1, id);
        struct Row
        {
            qint64 rowId, dateMs;
            int type;
            QString target;
            TMessageReaction reaction;
        };
        std::vector<Row> rows;
        while (q.next()) {
            Row row;
            row.rowId = q.integer(0);
            row.type = int(q.integer(1));
            row.target = reactionTarget(q.text(2));
            row.reaction.fromMe = q.integer(3) != 0;
            if (!row.reaction.fromMe)
                row.reaction.sender = q.text(4);
            row.reaction.emoji = q.text(5);
            row.dateMs = messageDateMs(q.integer(6), Schema::Ios6);
            rows.push_back(std::move(row));
        }
        // Applied in time order, so that a removal takes back what came before it.
        std::stable_sort(rows.begin(), rows.end(), [](const Row& x, const Row& y) {
            return x.dateMs != y.dateMs ? x.dateMs < y.dateMs : x.rowId < y.rowId;
        });
        for (Row& row : rows) {
            const auto it = byGuid.constFind(row.target);
            if (it == byGuid.constEnd())
                continue; // its target is not in this conversation
            auto& reactions = list[*it].reactions;
            const auto samePerson = [&row](const TMessageReaction& r) {
                return r.fromMe == row.reaction.fromMe && r.sender == row.reaction.sender;
            };
            if (row.type >= kRemovalFirst) {
                const int kind = row.type - (kRemovalFirst - kReactionFirst);
                for (auto r = reactions.rbegin(); r != reactions.rend(); ++r)
                    if (samePerson(*r) && r->type == kind &&
                        (row.reaction.emoji.isEmpty() || r->emoji == row.reaction.emoji)) {
                        reactions.erase(std::next(r).base());
                        break;
                    }
                continue;
            }
            row.reaction.type = row.type;
            const bool repeated =
                std::any_of(reactions.begin(), reactions.end(), [&](const TMessageReaction& r) {
                    return samePerson(r) && r.type == row.type && r.emoji == row.reaction.emoji;
                });
            if (!repeated)
                reactions.push_back(std::move(row.reaction));
        }
    }
    return list;
}

std::vector<TConversation> TMessagesStore::Impl::conversationsIos5() const
{
    const QString m = QStringLiteral("message");
    const QString a = QStringLiteral("m");
    std::vector<TConversation> list;
    if (!has(m, QStringLiteral("group_id")))
        return list;
    QHash<qint64, size_t> index;
    Statement q(db.get(),
                QStringLiteral("SELECT g.ROWID, count(m.ROWID), max(%1), max(coalesce(%2, 0)) "
                               "FROM msg_group g JOIN message m ON m.group_id = g.ROWID "
                               "GROUP BY g.ROWID")
                    .arg(dateMsSql(col(m, a, QStringLiteral("date"))),
                         col(m, a, QStringLiteral("is_madrid"))),
                path);
    while (q.next()) {
        TConversation conv;
        conv.id = q.integer(0);
        conv.messageCount = int(std::min<qint64>(q.integer(1), INT_MAX));
        conv.lastDateMs = q.integer(2);
        conv.service = q.integer(3) != 0 ? QStringLiteral("iMessage") : QStringLiteral("SMS");
        index.insert(conv.id, list.size());
        list.push_back(std::move(conv));
    }
    if (has(QStringLiteral("group_member"), QStringLiteral("group_id")) &&
        has(QStringLiteral("group_member"), QStringLiteral("address"))) {
        Statement members(db.get(),
                          QStringLiteral("SELECT group_id, address FROM group_member "
                                         "ORDER BY group_id, ROWID"),
                          path);
        while (members.next()) {
            const auto it = index.constFind(members.integer(0));
            const QString member = members.text(1);
            if (it != index.constEnd() && !member.isEmpty() &&
                !list[*it].members.contains(member))
                list[*it].members << member;
        }
    }
    for (TConversation& conv : list) {
        if (!conv.members.isEmpty())
            conv.identifier = conv.members.front();
        conv.isGroup = conv.members.size() > 1;
    }
    return list;
}

std::vector<TMessage> TMessagesStore::Impl::messagesIos5(qint64 id) const
{
    const QString m = QStringLiteral("message");
    const QString a = QStringLiteral("m");
    std::vector<TMessage> list;
    if (!has(m, QStringLiteral("group_id")))
        return list;
    QHash<qint64, size_t> byRow;
    {
        Statement q(db.get(),
                    QStringLiteral("SELECT m.ROWID, %1, %2, %3, %4, %5, %6, %7, %8, %9 FROM "
                                   "message m WHERE m.group_id = ?1")
                        .arg(col(m, a, QStringLiteral("madrid_guid")),
                             col(m, a, QStringLiteral("text")),
                             col(m, a, QStringLiteral("madrid_attributedbody")),
                             col(m, a, QStringLiteral("address")),
                             col(m, a, QStringLiteral("madrid_handle")),
                             col(m, a, QStringLiteral("flags")),
                             col(m, a, QStringLiteral("madrid_flags")),
                             col(m, a, QStringLiteral("is_madrid")),
                             col(m, a, QStringLiteral("date"))),
                    path);
        q.bind(1, id);
        while (q.next()) {
            TMessage msg;
            msg.rowId = q.integer(0);
            msg.guid = q.text(1);
            msg.text = messageText(q, 2, 3);
            const bool madrid = q.integer(8) != 0;
            // SMS flags: bit 0 set on what the phone sent (2 received, 3 sent). iMessage rows
            // keep theirs in madrid_flags, bit 2 on sent ones.
            msg.fromMe = madrid ? (q.integer(7) & 0x4) != 0 : (q.integer(6) & 0x1) != 0;
            if (!msg.fromMe) {
                msg.sender = q.text(madrid ? 5 : 4);
                if (msg.sender.isEmpty())
                    msg.sender = q.text(madrid ? 4 : 5);
            }
            msg.service = madrid ? QStringLiteral("iMessage") : QStringLiteral("SMS");
            msg.dateMs = messageDateMs(q.integer(9), Schema::Ios5);
            byRow.insert(msg.rowId, list.size());
            list.push_back(std::move(msg));
        }
    }
    const QString p = QStringLiteral("msg_pieces");
    if (!list.empty() && has(p, QStringLiteral("message_id"))) {
        // MMS parts: text parts make the text, the others are the message's files.
        Statement q(db.get(),
                    QStringLiteral("SELECT p.message_id, %1, %2, %3, length(%4) FROM msg_pieces p "
                                   "JOIN message m ON m.ROWID = p.message_id "
                                   "WHERE m.group_id = ?1 ORDER BY p.message_id, %5, p.ROWID")
                        .arg(col(p, QStringLiteral("p"), QStringLiteral("content_type")),
                             col(p, QStringLiteral("p"), QStringLiteral("data")),
                             col(p, QStringLiteral("p"), QStringLiteral("content_loc")),
                             col(p, QStringLiteral("p"), QStringLiteral("data")),
                             col(p, QStringLiteral("p"), QStringLiteral("part_id"))),
                    path);
        q.bind(1, id);
        QSet<qint64> textFromPieces;
        while (q.next()) {
            const auto it = byRow.constFind(q.integer(0));
            if (it == byRow.constEnd())
                continue;
            TMessage& msg = list[*it];
            const QString type = q.text(1).toLower();
            if (type.startsWith(QLatin1String("text/plain"))) {
                // The message's own text column, when set, already holds the parts' text.
                if (msg.text.isEmpty() || textFromPieces.contains(msg.rowId)) {
                    if (!msg.text.isEmpty())
                        msg.text += QLatin1Char('\n');
                    msg.text += QString::fromUtf8(q.blob(2));
                    textFromPieces.insert(msg.rowId);
                }
                continue;
            }
            if (type.startsWith(QLatin1String("application/smil")))
                continue; // the layout of the parts, nothing to show
            // Where iOS 5 kept a part's file is not recorded in the row: no path.
            msg.attachments.push_back(
                makeAttachment(QString(), q.text(3), q.text(1), QString(), q.integer(4)));
        }
    }
    return list;
}

// -------------------------------------------------------------------------------------------

namespace {

QString digitsOf(const QString& s)
{
    QString digits;
    digits.reserve(s.size());
    for (QChar c : s)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
    return digits;
}

bool sameNumber(const QString& a, const QString& b)
{
    const qsizetype n = std::min(a.size(), b.size());
    if (a.size() >= 9 && b.size() >= 9)
        return a.right(9) == b.right(9);
    if (n >= 7)
        return a.right(n) == b.right(n);
    return a == b;
}

} // namespace

struct TContactNames::Impl
{
    QHash<QString, QString> emails;                // lower-case address to name
    std::vector<std::pair<QString, QString>> phones; // digits to name, address-book order
    mutable QHash<QString, QString> cache;
};

TContactNames::TContactNames() : d(std::make_unique<Impl>()) {}

TContactNames::TContactNames(const QString& path) : d(std::make_unique<Impl>())
{
    DbPointer db = openDatabase(path);
    TableColumns tables;
    try {
        tables = readSchema(db.get(), path);
    } catch (const Error&) {
        throw Error(QStringLiteral("%1 is not a SQLite database").arg(path));
    }
    const QSet<QString> person = tables.value(QStringLiteral("abperson"));
    const QSet<QString> multi = tables.value(QStringLiteral("abmultivalue"));
    if (person.isEmpty() || !multi.contains(QStringLiteral("record_id")) ||
        !multi.contains(QStringLiteral("property")) || !multi.contains(QStringLiteral("value")))
        throw Error(QStringLiteral("%1 is no address book").arg(path));
    const auto pc = [&person](const char* column) {
        const QString name = QString::fromLatin1(column);
        return person.contains(name) ? QStringLiteral("p.") + name : QStringLiteral("NULL");
    };
    Statement q(db.get(),
                QStringLiteral("SELECT v.property, v.value, %1, %2, %3, %4 FROM ABMultiValue v "
                               "JOIN ABPerson p ON p.ROWID = v.record_id "
                               "WHERE v.property IN (3, 4) ORDER BY p.ROWID, v.ROWID")
                    .arg(pc("first"), pc("last"), pc("organization"), pc("nickname")),
                path);
    while (q.next()) {
        const QString value = q.text(1).trimmed();
        const QString first = q.text(2).trimmed();
        const QString last = q.text(3).trimmed();
        QString name = first.isEmpty() || last.isEmpty() ? first + last
                                                          : first + QLatin1Char(' ') + last;
        if (name.isEmpty())
            name = q.text(4).trimmed();
        if (name.isEmpty())
            name = q.text(5).trimmed();
        if (value.isEmpty() || name.isEmpty())
            continue;
        if (q.integer(0) == 4) {
            if (!d->emails.contains(value.toLower())) // the first person keeps an address
                d->emails.insert(value.toLower(), name);
        } else {
            const QString digits = digitsOf(value);
            if (!digits.isEmpty())
                d->phones.emplace_back(digits, name);
        }
    }
}

TContactNames::~TContactNames() = default;
TContactNames::TContactNames(TContactNames&&) noexcept = default;
TContactNames& TContactNames::operator=(TContactNames&&) noexcept = default;

QString TContactNames::nameOf(const QString& address) const
{
    if (!d)
        return QString();
    const QString key = address.trimmed();
    if (key.isEmpty())
        return QString();
    if (key.contains(QLatin1Char('@')))
        return d->emails.value(key.toLower());
    const auto cached = d->cache.constFind(key);
    if (cached != d->cache.constEnd())
        return *cached;
    QString name;
    const QString digits = digitsOf(key);
    if (!digits.isEmpty())
        for (const auto& [number, person] : d->phones)
            if (sameNumber(digits, number)) {
                name = person;
                break;
            }
    d->cache.insert(key, name);
    return name;
}

QString conversationTitle(const TConversation& conversation, const TContactNames& names)
{
    if (!conversation.displayName.trimmed().isEmpty())
        return conversation.displayName;
    QStringList parts;
    for (const QString& member : conversation.members) {
        const QString name = names.nameOf(member);
        parts << (name.isEmpty() ? member : name);
    }
    if (!parts.isEmpty())
        return parts.join(QStringLiteral(", "));
    return conversation.identifier;
}
