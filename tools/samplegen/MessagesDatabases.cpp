#include "MessagesDatabases.h"

#include "AttributedBody.h"
#include "MediaData.h"
#include "SampleBackup.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QMutex>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>

#include <optional>
#include <stdexcept>

namespace MessagesDatabases {

namespace {

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

const QVariant kNull = QVariant(QMetaType::fromType<QString>());
const QVariant kNullBlob = QVariant(QMetaType::fromType<QByteArray>());
const QString kSmsPath = QStringLiteral("Library/SMS/sms.db");
const QString kAttachments = QStringLiteral("Library/SMS/Attachments/");

// Runs program with args, where "%in" stands for a file holding input and "%out" for the file
// it writes (appended when no argument names it), and returns what it wrote.
QByteArray runTool(const QString& program, const QStringList& args, const QString& suffix,
                   const QByteArray& input = QByteArray(), const QString& inputSuffix = QString())
{
    QTemporaryDir dir;
    if (!dir.isValid())
        fail(QStringLiteral("cannot create a temporary folder"));
    const QString in = dir.filePath(QStringLiteral("in.") + inputSuffix);
    const QString out = dir.filePath(QStringLiteral("out.") + suffix);
    if (!input.isEmpty()) {
        QFile file(in);
        if (!file.open(QIODevice::WriteOnly) || file.write(input) != input.size())
            fail(QStringLiteral("cannot write %1").arg(in));
    }
    QStringList all;
    for (const QString& arg : args)
        all << (arg == QLatin1String("%in") ? in : arg == QLatin1String("%out") ? out : arg);
    if (!args.contains(QStringLiteral("%out")))
        all << out;
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, all);
    if (!p.waitForStarted(-1))
        fail(QStringLiteral("cannot run %1: %2").arg(program, p.errorString()));
    p.waitForFinished(-1);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        fail(QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(p.readAll())));
    QFile file(out);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1").arg(out));
    return file.readAll();
}

QByteArray ffmpeg(const QStringList& args, const QString& suffix)
{
    return runTool(QStringLiteral("ffmpeg"),
                   QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} +
                       args,
                   suffix);
}

enum class Media
{
    Heic,
    Jpeg,
    Mp4,
    Caf,
    Pdf
};

// Each medium is made once per process: the tools take a while.
QByteArray medium(Media kind)
{
    static QMutex mutex;
    static QHash<int, QByteArray> made;
    QMutexLocker lock(&mutex);
    const auto it = made.constFind(int(kind));
    if (it != made.constEnd())
        return *it;
    QByteArray bytes;
    const auto jpeg = [] {
        return ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                       QStringLiteral("testsrc=size=640x480:rate=1"), QStringLiteral("-frames:v"),
                       QStringLiteral("1"), QStringLiteral("-q:v"), QStringLiteral("4")},
                      QStringLiteral("jpg"));
    };
    switch (kind) {
    case Media::Jpeg:
        bytes = jpeg();
        break;
    case Media::Heic:
        bytes = runTool(QStringLiteral("heif-enc"),
                        {QStringLiteral("-q"), QStringLiteral("60"), QStringLiteral("-o"),
                         QStringLiteral("%out"), QStringLiteral("%in")},
                        QStringLiteral("heic"), jpeg(), QStringLiteral("jpg"));
        break;
    case Media::Mp4:
        bytes = media::clip(1.0, QStringLiteral("mp4"));
        break;
    case Media::Caf:
        // Apple's Core Audio Format; ffmpeg writes it with ALAC.
        bytes = ffmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                        QStringLiteral("sine=frequency=523:duration=1.5"), QStringLiteral("-c:a"),
                        QStringLiteral("alac"), QStringLiteral("-f"), QStringLiteral("caf")},
                       QStringLiteral("caf"));
        break;
    case Media::Pdf:
        bytes = QByteArrayLiteral("%PDF-1.4\n1 0 obj << /Type /Catalog /Pages 2 0 R >> endobj\n"
                                  "2 0 obj << /Type /Pages /Kids [] /Count 0 >> endobj\n"
                                  "trailer << /Root 1 0 R >>\n%%EOF\n");
        break;
    }
    made.insert(int(kind), bytes);
    return bytes;
}

// One SQLite file built in a temporary folder; finish() hands back its bytes.
class Builder final
{
public:
    Builder() : m_name(QStringLiteral("messagesdb-%1").arg(QUuid::createUuid().toString()))
    {
        if (!m_dir.isValid())
            fail(QStringLiteral("cannot create a temporary folder"));
        m_file = QDir(m_dir.path()).filePath(QStringLiteral("sms.db"));
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(m_file);
        if (!db.open())
            fail(QStringLiteral("cannot create %1: %2").arg(m_file, db.lastError().text()));
        db.transaction();
    }
    ~Builder()
    {
        if (QSqlDatabase::contains(m_name)) {
            QSqlDatabase::database(m_name, false).close();
            QSqlDatabase::removeDatabase(m_name);
        }
    }
    Builder(const Builder&) = delete;
    Builder& operator=(const Builder&) = delete;

    void exec(const QString& sql)
    {
        QSqlQuery q(database());
        if (!q.exec(sql))
            fail(QStringLiteral("%1: %2").arg(sql, q.lastError().text()));
    }

    // A prepared insert, run once per row.
    class Insert
    {
    public:
        Insert(const QSqlDatabase& db, const QString& sql) : m_query(db), m_sql(sql)
        {
            if (!m_query.prepare(sql))
                fail(QStringLiteral("%1: %2").arg(sql, m_query.lastError().text()));
        }
        void operator()(const QVariantList& row)
        {
            for (const QVariant& value : row)
                m_query.addBindValue(value);
            if (!m_query.exec())
                fail(QStringLiteral("%1: %2").arg(m_sql, m_query.lastError().text()));
        }

    private:
        QSqlQuery m_query;
        QString m_sql;
    };
    Insert insert(const QString& sql) { return Insert(database(), sql); }

    QSqlDatabase database() const { return QSqlDatabase::database(m_name, false); }

    QByteArray finish()
    {
        {
            QSqlDatabase db = database();
            if (!db.commit())
                fail(db.lastError().text());
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
        QFile file(m_file);
        if (!file.open(QIODevice::ReadOnly))
            fail(QStringLiteral("cannot read %1: %2").arg(m_file, file.errorString()));
        return file.readAll();
    }

private:
    QTemporaryDir m_dir;
    QString m_name;
    QString m_file;
};

// ---- iOS 6 to 18 -----------------------------------------------------------------------

void createModernSchema(Builder& b, Era era)
{
    const bool current = era == Era::Ios17;
    b.exec(QStringLiteral(
        "CREATE TABLE handle (ROWID INTEGER PRIMARY KEY AUTOINCREMENT UNIQUE, id TEXT NOT NULL, "
        "country TEXT, service TEXT NOT NULL, uncanonicalized_id TEXT, person_centric_id TEXT, "
        "UNIQUE (id, service))"));
    b.exec(QStringLiteral(
               "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE "
               "NOT NULL, text TEXT, replace INTEGER DEFAULT 0, service_center TEXT, handle_id "
               "INTEGER DEFAULT 0, subject TEXT, country TEXT, attributedBody BLOB, version "
               "INTEGER DEFAULT 0, type INTEGER DEFAULT 0, service TEXT, account TEXT, "
               "account_guid TEXT, error INTEGER DEFAULT 0, date INTEGER, date_read INTEGER, "
               "date_delivered INTEGER, is_delivered INTEGER DEFAULT 0, is_finished INTEGER "
               "DEFAULT 0, is_emote INTEGER DEFAULT 0, is_from_me INTEGER DEFAULT 0, is_empty "
               "INTEGER DEFAULT 0, is_read INTEGER DEFAULT 0, is_sent INTEGER DEFAULT 0, "
               "cache_has_attachments INTEGER DEFAULT 0, cache_roomnames TEXT, is_audio_message "
               "INTEGER DEFAULT 0, item_type INTEGER DEFAULT 0, other_handle INTEGER DEFAULT 0, "
               "group_title TEXT, group_action_type INTEGER DEFAULT 0, "
               "associated_message_guid TEXT, associated_message_type INTEGER DEFAULT 0, "
               "balloon_bundle_id TEXT, payload_data BLOB, expressive_send_style_id TEXT, "
               "associated_message_range_location INTEGER DEFAULT 0, "
               "associated_message_range_length INTEGER DEFAULT 0%1)")
               .arg(current ? QStringLiteral(
                                  ", reply_to_guid TEXT, sort_id INTEGER, thread_originator_guid "
                                  "TEXT, date_edited INTEGER DEFAULT 0, date_retracted INTEGER "
                                  "DEFAULT 0, date_recovered INTEGER DEFAULT 0, "
                                  "associated_message_emoji TEXT")
                            : QString()));
    b.exec(QStringLiteral(
        "CREATE TABLE chat (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT NULL, "
        "style INTEGER, state INTEGER, account_id TEXT, properties BLOB, chat_identifier TEXT, "
        "service_name TEXT, room_name TEXT, account_login TEXT, is_archived INTEGER DEFAULT 0, "
        "last_addressed_handle TEXT, display_name TEXT, group_id TEXT, is_filtered INTEGER "
        "DEFAULT 0, successful_query INTEGER)"));
    b.exec(QStringLiteral(
        "CREATE TABLE attachment (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, guid TEXT UNIQUE NOT "
        "NULL, created_date INTEGER DEFAULT 0, start_date INTEGER DEFAULT 0, filename TEXT, uti "
        "TEXT, mime_type TEXT, transfer_state INTEGER DEFAULT 0, is_outgoing INTEGER DEFAULT 0, "
        "user_info BLOB, transfer_name TEXT, total_bytes INTEGER DEFAULT 0, is_sticker INTEGER "
        "DEFAULT 0, hide_attachment INTEGER DEFAULT 0)"));
    b.exec(QStringLiteral(
        "CREATE TABLE chat_handle_join (chat_id INTEGER REFERENCES chat (ROWID) ON DELETE "
        "CASCADE, handle_id INTEGER REFERENCES handle (ROWID) ON DELETE CASCADE, "
        "UNIQUE(chat_id, handle_id))"));
    b.exec(QStringLiteral("CREATE TABLE chat_message_join (chat_id INTEGER REFERENCES chat "
                          "(ROWID) ON DELETE CASCADE, message_id INTEGER REFERENCES message "
                          "(ROWID) ON DELETE CASCADE%1, PRIMARY KEY (chat_id, message_id))")
               .arg(current ? QStringLiteral(", message_date INTEGER DEFAULT 0") : QString()));
    b.exec(QStringLiteral(
        "CREATE TABLE message_attachment_join (message_id INTEGER REFERENCES message (ROWID) ON "
        "DELETE CASCADE, attachment_id INTEGER REFERENCES attachment (ROWID) ON DELETE CASCADE, "
        "UNIQUE(message_id, attachment_id))"));
    b.exec(QStringLiteral(
        "CREATE INDEX chat_message_join_idx_message_date_id_chat_id ON chat_message_join "
        "(chat_id, message_id)"));
    b.exec(QStringLiteral("CREATE INDEX message_idx_handle ON message(handle_id, date)"));
}

struct Handle
{
    int id;
    QString address;
    QString service;
};

struct Chat
{
    int id;
    QString identifier;
    QString displayName;
    int style; // 45 one to one, 43 group
    QString service;
    QList<int> members;
};

struct Attachment
{
    int id;
    QString guid;
    QString name; // transfer_name, and the file's name
    QString mime;
    QString uti;
    Media media;
    bool present = true;
    bool current = false; // iOS 17 only (HEIC arrived with iOS 11)

    QString relativePath() const
    {
        return kAttachments + guid.left(2).toLower() + QLatin1Char('/') + guid.mid(2, 2) +
               QLatin1Char('/') + guid + QLatin1Char('/') + name;
    }
};

enum class Body
{
    Text,     // text only
    Both,     // text and attributedBody
    BodyOnly, // text NULL, attributedBody only
    None      // neither (an unsent message, an event)
};

struct Message
{
    int chat = 0;
    QString guid;
    QString text;
    Body body = Body::Text;
    int handle = 0;
    bool fromMe = false;
    QString service;
    qint64 at = 0; // seconds after the era's first message
    int itemType = 0;
    int groupAction = 0;
    QString groupTitle;
    int otherHandle = 0;
    int associatedType = 0;
    QString associatedGuid;
    QString emoji;
    bool edited = false;
    bool unsent = false;
    QList<int> attachments;
    bool current = false; // iOS 17 only
};

const QString kObject = QString(QChar(0xFFFC));
const QString kGroupName = QStringLiteral("<script>alert('name')</script> Family");

std::vector<Handle> handles()
{
    return {{1, QStringLiteral("13800138000"), QStringLiteral("SMS")},
            {2, QStringLiteral("+49301234567"), QStringLiteral("iMessage")},
            {3, QStringLiteral("+14155550123"), QStringLiteral("SMS")},
            {4, QStringLiteral("ZOE.MUELLER@example.de"), QStringLiteral("iMessage")},
            {5, QStringLiteral("+14155550123"), QStringLiteral("iMessage")},
            {6, QStringLiteral("13800138000"), QStringLiteral("iMessage")}};
}

std::vector<Chat> chats()
{
    const QString sms = QStringLiteral("SMS");
    const QString im = QStringLiteral("iMessage");
    return {{1, QStringLiteral("13800138000"), QString(), 45, sms, {1}},
            {2, QStringLiteral("+49301234567"), QString(), 45, im, {2}},
            {3, QStringLiteral("chat748392015"), kGroupName, 43, im, {6, 2, 5}},
            {4, QStringLiteral("chat102938475"), QString(), 43, im, {4, 5}},
            {5, QStringLiteral("+14155550123"), QString(), 45, sms, {3}},
            {6, QStringLiteral("+8613900139000"), QString(), 45, sms, {}}};
}

std::vector<Attachment> attachments()
{
    return {{1, QStringLiteral("1A10F0E2-7C11-4B0D-9E55-000000000001"),
             QStringLiteral("IMG_0001.HEIC"), QStringLiteral("image/heic"),
             QStringLiteral("public.heic"), Media::Heic, true, true},
            {2, QStringLiteral("2B11A1C3-8D22-4C1E-8F66-000000000002"),
             QStringLiteral("IMG_0002.JPG"), QStringLiteral("image/jpeg"),
             QStringLiteral("public.jpeg"), Media::Jpeg},
            {3, QStringLiteral("3C12B2D4-9E33-4D2F-9077-000000000003"),
             QStringLiteral("Saturday.mp4"), QStringLiteral("video/mp4"),
             QStringLiteral("public.mpeg-4"), Media::Mp4},
            {4, QStringLiteral("4D13C3E5-AF44-4E30-A188-000000000004"),
             QStringLiteral("Audio Message.caf"), QStringLiteral("audio/x-caf"),
             QStringLiteral("com.apple.coreaudio-format"), Media::Caf},
            {5, QStringLiteral("5E14D4F6-B055-4F41-B299-000000000005"), QStringLiteral("Menu.pdf"),
             QStringLiteral("application/pdf"), QStringLiteral("com.adobe.pdf"), Media::Pdf},
            // Offloaded to iCloud: named in the database, absent from the backup.
            {6, QStringLiteral("6F15E507-C166-4052-C3AA-000000000006"),
             QStringLiteral("IMG_0006.JPG"), QStringLiteral("image/jpeg"),
             QStringLiteral("public.jpeg"), Media::Jpeg, false}};
}

std::vector<Message> messages()
{
    const QString sms = QStringLiteral("SMS");
    const QString im = QStringLiteral("iMessage");
    std::vector<Message> m;
    const auto add = [&m](Message msg) { m.push_back(std::move(msg)); };
    // Chat 1, SMS.
    add({.chat = 1, .guid = "C1-0001", .text = QStringLiteral("晚上一起吃饭吗？"),
         .body = Body::Both, .handle = 1, .service = sms, .at = 0});
    add({.chat = 1, .guid = "C1-0002", .text = QStringLiteral("好的，七点见 😊"), .handle = 1,
         .fromMe = true, .service = sms, .at = 60});
    add({.chat = 1, .guid = "C1-0003", .text = kObject, .body = Body::BodyOnly, .handle = 1,
         .service = sms, .at = 120, .attachments = {1}, .current = true});
    add({.chat = 1, .guid = "C1-0004", .text = QStringLiteral("Looks great! Where was that?"),
         .body = Body::BodyOnly, .handle = 1, .fromMe = true, .service = sms, .at = 180,
         .edited = true});
    add({.chat = 1, .guid = "C1-0005", .text = kObject, .body = Body::BodyOnly, .handle = 1,
         .fromMe = true, .service = sms, .at = 240, .attachments = {2}});
    add({.chat = 1, .guid = "C1-0006", .text = QStringLiteral("Loved an image"), .handle = 1,
         .service = sms, .at = 300, .associatedType = 2000, .associatedGuid = "p:0/C1-0005"});
    // Chat 2, iMessage.
    add({.chat = 2, .guid = "C2-0001", .text = kObject + QStringLiteral("Here is the video"),
         .body = Body::BodyOnly, .handle = 2, .service = im, .at = 1000, .attachments = {3}});
    add({.chat = 2, .guid = "C2-0002", .text = kObject, .body = Body::BodyOnly, .handle = 2,
         .fromMe = true, .service = im, .at = 1060, .attachments = {4}});
    add({.chat = 2, .guid = "C2-0003", .body = Body::None, .handle = 2, .service = im,
         .at = 1120, .unsent = true, .current = true});
    add({.chat = 2, .guid = "C2-0004", .text = kObject + kObject, .body = Body::BodyOnly,
         .handle = 2, .service = im, .at = 1180, .attachments = {5, 6}});
    add({.chat = 2, .guid = "C2-0005", .text = QStringLiteral("Danke, bis morgen!"), .handle = 2,
         .fromMe = true, .service = im, .at = 1240});
    // Chat 3, a named group.
    add({.chat = 3, .guid = "C3-0001", .body = Body::None, .fromMe = true, .service = im,
         .at = 2000, .itemType = 1, .groupAction = 0, .otherHandle = 5});
    add({.chat = 3, .guid = "C3-0002", .body = Body::None, .fromMe = true, .service = im,
         .at = 2010, .itemType = 2, .groupTitle = kGroupName});
    add({.chat = 3, .guid = "C3-0003", .text = QStringLiteral("<script>alert('text')</script>"),
         .body = Body::Both, .handle = 6, .service = im, .at = 2020});
    add({.chat = 3, .guid = "C3-0004", .text = QStringLiteral("Wer bringt den Kuchen mit?"),
         .body = Body::BodyOnly, .handle = 2, .service = im, .at = 2030});
    add({.chat = 3, .guid = "C3-0005", .text = QStringLiteral("Liked “Wer bringt den Kuchen mit?”"),
         .handle = 5, .service = im, .at = 2040, .associatedType = 2001,
         .associatedGuid = "p:0/C3-0004"});
    add({.chat = 3, .guid = "C3-0006", .text = QStringLiteral("Laughed at “Wer bringt…”"),
         .handle = 6, .service = im, .at = 2050, .associatedType = 2003,
         .associatedGuid = "p:0/C3-0004"});
    add({.chat = 3, .guid = "C3-0007", .text = QStringLiteral("Removed a laugh from “Wer…”"),
         .handle = 6, .service = im, .at = 2060, .associatedType = 3003,
         .associatedGuid = "p:0/C3-0004"});
    add({.chat = 3, .guid = "C3-0008", .text = QStringLiteral("Reacted 🎂 to “Wer bringt…”"),
         .fromMe = true, .service = im, .at = 2070, .associatedType = 2006,
         .associatedGuid = "p:0/C3-0004", .emoji = QStringLiteral("🎂"), .current = true});
    // Aimed at a message of chat 1: dropped in this conversation.
    add({.chat = 3, .guid = "C3-0009", .text = QStringLiteral("Disliked a message"), .handle = 2,
         .service = im, .at = 2080, .associatedType = 2002, .associatedGuid = "bp:C1-0001"});
    add({.chat = 3, .guid = "C3-0010", .text = QStringLiteral("Ich!"), .fromMe = true,
         .service = im, .at = 2090});
    // Chat 4, a group without a name.
    add({.chat = 4, .guid = "C4-0001", .text = QStringLiteral("Are we still on for Friday?"),
         .body = Body::BodyOnly, .handle = 4, .service = im, .at = 3000});
    add({.chat = 4, .guid = "C4-0002", .text = QStringLiteral("Yes"), .fromMe = true,
         .service = im, .at = 3060});
    // Chat 5, SMS from someone in no address book.
    add({.chat = 5, .guid = "C5-0001", .text = QStringLiteral("Your code is 123456"),
         .handle = 3, .service = sms, .at = 4000});
    // Written last, dated between the first two of chat 1: order is by date, not by row.
    add({.chat = 1, .guid = "C1-0007", .text = QStringLiteral("Bring an umbrella"),
         .body = Body::Both, .handle = 1, .service = sms, .at = 30});
    return m;
}

qint64 storedDate(Era era, qint64 cocoaSeconds)
{
    return era == Era::Ios17 ? cocoaSeconds * 1000000000LL : cocoaSeconds;
}

Sample modernSms(Era era)
{
    const bool current = era == Era::Ios17;
    // 2023-10-26 and 2016-11-05, as seconds since 2001.
    const qint64 base = current ? 720000000 : 500000000;
    Builder b;
    createModernSchema(b, era);
    {
        auto insert = b.insert(
            QStringLiteral("INSERT INTO handle (ROWID, id, country, service) VALUES (?, ?, ?, ?)"));
        for (const Handle& h : handles())
            insert({h.id, h.address, QStringLiteral("us"), h.service});
    }
    {
        auto insert = b.insert(QStringLiteral(
            "INSERT INTO chat (ROWID, guid, style, state, chat_identifier, service_name, "
            "display_name) VALUES (?, ?, ?, 3, ?, ?, ?)"));
        auto member =
            b.insert(QStringLiteral("INSERT INTO chat_handle_join (chat_id, handle_id) VALUES "
                                    "(?, ?)"));
        for (const Chat& c : chats()) {
            insert({c.id, QStringLiteral("%1;-;%2").arg(c.service, c.identifier), c.style,
                    c.identifier, c.service, c.displayName.isEmpty() ? kNull : c.displayName});
            for (int h : c.members)
                member({c.id, h});
        }
    }
    Sample sample;
    {
        auto insert = b.insert(QStringLiteral(
            "INSERT INTO attachment (ROWID, guid, created_date, filename, uti, mime_type, "
            "transfer_state, is_outgoing, transfer_name, total_bytes) "
            "VALUES (?, ?, ?, ?, ?, ?, 5, 0, ?, ?)"));
        for (const Attachment& a : attachments()) {
            if (a.current && !current)
                continue;
            const QByteArray content = medium(a.media);
            const QString path = a.relativePath();
            insert({a.id, a.guid, storedDate(era, base), QLatin1String(current ? "~/" : "/var/mobile/") + path,
                    a.uti, a.mime, a.name, content.size()});
            if (a.present)
                sample.files.push_back({path, content});
            else
                sample.missingFiles << path;
        }
    }
    auto insert = b.insert(
        QStringLiteral("INSERT INTO message (guid, text, attributedBody, handle_id, service, "
                       "date, is_from_me, is_sent, is_read, cache_has_attachments, item_type, "
                       "other_handle, group_title, group_action_type, associated_message_guid, "
                       "associated_message_type%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                       "?, ?, ?, ?%2)")
            .arg(current ? QStringLiteral(", date_edited, date_retracted, "
                                          "associated_message_emoji")
                         : QString(),
                 current ? QStringLiteral(", ?, ?, ?") : QString()));
    auto join = b.insert(current ? QStringLiteral("INSERT INTO chat_message_join (chat_id, "
                                                  "message_id, message_date) VALUES (?, ?, ?)")
                                 : QStringLiteral("INSERT INTO chat_message_join (chat_id, "
                                                  "message_id) VALUES (?, ?)"));
    auto attach = b.insert(QStringLiteral(
        "INSERT INTO message_attachment_join (message_id, attachment_id) VALUES (?, ?)"));
    qint64 row = 0;
    for (const Message& m : messages()) {
        if (m.current && !current)
            continue;
        ++row;
        QList<int> files;
        for (int a : m.attachments)
            if (current || a != 1)
                files << a;
        // Before iOS 16 the text was always in `text`, the attributedBody beside it or not.
        const Body body = !current && m.body == Body::BodyOnly ? Body::Both : m.body;
        const bool text = body == Body::Text || body == Body::Both;
        const bool blob = body == Body::Both || body == Body::BodyOnly;
        const qint64 date = storedDate(era, base + m.at);
        QVariantList values{m.guid,
                            text ? QVariant(m.text) : kNull,
                            blob ? QVariant(attributedBodyFor(m.text)) : kNullBlob,
                            m.handle,
                            m.service,
                            date,
                            m.fromMe ? 1 : 0,
                            m.fromMe ? 1 : 0,
                            m.fromMe ? 0 : 1,
                            files.isEmpty() ? 0 : 1,
                            m.itemType,
                            m.otherHandle,
                            m.groupTitle.isEmpty() ? kNull : QVariant(m.groupTitle),
                            m.groupAction,
                            m.associatedGuid.isEmpty() ? kNull : QVariant(m.associatedGuid),
                            m.associatedType};
        if (current)
            values << (m.edited ? storedDate(era, base + m.at + 30) : 0)
                   << (m.unsent ? storedDate(era, base + m.at + 45) : 0)
                   << (m.emoji.isEmpty() ? kNull : QVariant(m.emoji));
        insert(values);
        if (current)
            join({m.chat, row, date});
        else
            join({m.chat, row});
        for (int a : files)
            attach({row, a});
    }
    sample.db = b.finish();
    return sample;
}

// ---- iOS 5 -------------------------------------------------------------------------------

Sample ios5Sms()
{
    Builder b;
    b.exec(QStringLiteral("CREATE TABLE msg_group (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
                          "type INTEGER, newest_message INTEGER, unread_count INTEGER, "
                          "hash INTEGER)"));
    b.exec(QStringLiteral("CREATE TABLE group_member (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, "
                          "group_id INTEGER, address TEXT, country TEXT)"));
    b.exec(QStringLiteral(
        "CREATE TABLE message (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, address TEXT, date "
        "INTEGER, text TEXT, flags INTEGER, replace INTEGER, svc_center TEXT, group_id INTEGER, "
        "association_id INTEGER, height INTEGER, UIFlags INTEGER, version INTEGER, subject TEXT, "
        "country TEXT, headers BLOB, recipients BLOB, read INTEGER, madrid_attributedBody BLOB, "
        "madrid_handle TEXT, madrid_version INTEGER, madrid_guid TEXT, madrid_type INTEGER, "
        "madrid_roomname TEXT, madrid_service TEXT, madrid_account TEXT, madrid_account_guid "
        "TEXT, madrid_flags INTEGER, madrid_attachmentInfo BLOB, madrid_url TEXT, madrid_error "
        "INTEGER, is_madrid INTEGER, madrid_date_read INTEGER, madrid_date_delivered INTEGER)"));
    b.exec(QStringLiteral(
        "CREATE TABLE msg_pieces (ROWID INTEGER PRIMARY KEY AUTOINCREMENT, message_id INTEGER, "
        "data BLOB, part_id INTEGER, content_id TEXT, content_loc TEXT, content_type TEXT, "
        "height INTEGER, version INTEGER, flags INTEGER, headers BLOB)"));
    {
        auto group = b.insert(QStringLiteral(
            "INSERT INTO msg_group (ROWID, type, newest_message, unread_count) VALUES (?, ?, ?, 0)"));
        group({1, 0, 3});
        group({2, 1, 5});
        group({3, 0, 7});
        auto member = b.insert(
            QStringLiteral("INSERT INTO group_member (group_id, address, country) VALUES (?, ?, ?)"));
        member({1, QStringLiteral("13800138000"), QStringLiteral("cn")});
        member({2, QStringLiteral("+49 30 1234567"), QStringLiteral("de")});
        member({2, QStringLiteral("+14155550123"), QStringLiteral("us")});
        member({3, QStringLiteral("zoe.mueller@example.de"), QStringLiteral("de")});
    }
    // 2012-01-01 00:00:00 UTC, in Unix seconds as iOS 5 counts.
    const qint64 base = 1325376000;
    auto insert = b.insert(QStringLiteral(
        "INSERT INTO message (ROWID, address, date, text, flags, group_id, read, madrid_handle, "
        "madrid_guid, madrid_service, madrid_flags, is_madrid) "
        "VALUES (?, ?, ?, ?, ?, ?, 1, ?, ?, ?, ?, ?)"));
    // SMS flags 2 received, 3 sent; iMessage madrid_flags 12289 received, 36869 sent.
    insert({1, QStringLiteral("13800138000"), base, QStringLiteral("新年快乐！"), 2, 1, kNull,
            kNull, kNull, 0, 0});
    insert({2, QStringLiteral("13800138000"), base + 120, QStringLiteral("Happy new year!"), 3, 1,
            kNull, kNull, kNull, 0, 0});
    insert({3, QStringLiteral("13800138000"), base + 600, kNull, 2, 1, kNull, kNull, kNull, 0, 0});
    insert({4, QStringLiteral("+49 30 1234567"), base + 3600, QStringLiteral("Wer kommt heute?"),
            2, 2, kNull, kNull, kNull, 0, 0});
    insert({5, kNull, base + 3700, QStringLiteral("Ich komme um acht"), 3, 2, kNull, kNull, kNull,
            0, 0});
    insert({6, kNull, base + 7200, QStringLiteral("Hi from iMessage"), 0, 3,
            QStringLiteral("zoe.mueller@example.de"), QStringLiteral("5A5E0001-0000-4000-8000-1"),
            QStringLiteral("iMessage"), 12289, 1});
    insert({7, kNull, base + 7260, QStringLiteral("Hi Zoë"), 0, 3,
            QStringLiteral("zoe.mueller@example.de"), QStringLiteral("5A5E0001-0000-4000-8000-2"),
            QStringLiteral("iMessage"), 36869, 1});
    auto piece = b.insert(QStringLiteral(
        "INSERT INTO msg_pieces (message_id, data, part_id, content_id, content_loc, "
        "content_type, flags) VALUES (?, ?, ?, ?, ?, ?, 0)"));
    piece({3, QByteArray("<smil><body><par><img src=\"IMG_0100.jpg\"/></par></body></smil>"), 0,
           QStringLiteral("<smil>"), QStringLiteral("smil.xml"), QStringLiteral("application/smil")});
    piece({3, QByteArray("Look at this"), 1, QStringLiteral("<text0>"),
           QStringLiteral("text_0.txt"), QStringLiteral("text/plain")});
    piece({3, medium(Media::Jpeg), 2, QStringLiteral("<img0>"), QStringLiteral("IMG_0100.jpg"),
           QStringLiteral("image/jpeg")});
    Sample sample;
    sample.db = b.finish();
    return sample;
}

} // namespace

Sample sms(Era era)
{
    return era == Era::Ios5 ? ios5Sms() : modernSms(era);
}

Sample longConversation(int count)
{
    Builder b;
    createModernSchema(b, Era::Ios17);
    b.exec(QStringLiteral("INSERT INTO handle (ROWID, id, country, service) "
                          "VALUES (1, '+8613800138000', 'cn', 'iMessage')"));
    b.exec(QStringLiteral("INSERT INTO chat (ROWID, guid, style, chat_identifier, service_name) "
                          "VALUES (1, 'iMessage;-;+8613800138000', 45, '+8613800138000', "
                          "'iMessage')"));
    b.exec(QStringLiteral("INSERT INTO chat_handle_join VALUES (1, 1)"));
    auto insert = b.insert(QStringLiteral(
        "INSERT INTO message (ROWID, guid, text, attributedBody, handle_id, service, date, "
        "is_from_me, cache_has_attachments, associated_message_guid, associated_message_type) "
        "VALUES (?, ?, ?, ?, 1, 'iMessage', ?, ?, ?, ?, ?)"));
    auto join = b.insert(QStringLiteral(
        "INSERT INTO chat_message_join (chat_id, message_id, message_date) VALUES (1, ?, ?)"));
    auto attachment = b.insert(QStringLiteral(
        "INSERT INTO attachment (ROWID, guid, filename, uti, mime_type, transfer_name, "
        "total_bytes) VALUES (?, ?, ?, 'public.jpeg', 'image/jpeg', ?, ?)"));
    auto attach = b.insert(QStringLiteral(
        "INSERT INTO message_attachment_join (message_id, attachment_id) VALUES (?, ?)"));
    const QByteArray jpeg = medium(Media::Jpeg);
    const qint64 base = 700000000; // 2023-03-07, seconds since 2001
    Sample sample;
    qint64 row = 0;
    for (int i = 1; i <= count; ++i) {
        const bool withFile = i % 50 == 0;
        const QString guid = QStringLiteral("L-%1").arg(i);
        const QString text =
            withFile ? kObject
                     : QStringLiteral("Message %1: the quick brown fox jumps over the lazy dog")
                           .arg(i);
        const bool bodyOnly = i % 3 == 0 || withFile;
        const qint64 date = (base + i) * 1000000000LL;
        insert({++row, guid, bodyOnly ? kNull : QVariant(text), QVariant(attributedBodyFor(text)),
                date, i % 2, withFile ? 1 : 0, kNull, 0});
        join({row, date});
        if (withFile) {
            const QString name = QStringLiteral("IMG_%1.JPG").arg(i, 6, 10, QLatin1Char('0'));
            const QString path =
                kAttachments + QStringLiteral("%1/%2/L-%3/").arg(i % 100, 2, 10, QLatin1Char('0'))
                                   .arg(i % 16, 2, 16, QLatin1Char('0'))
                                   .arg(i) +
                name;
            attachment({i / 50, QStringLiteral("LA-%1").arg(i), QStringLiteral("~/") + path,
                        name, jpeg.size()});
            attach({row, i / 50});
            sample.files.push_back({path, jpeg});
        }
        if (i % 20 == 0) {
            const qint64 reactionDate = date + 500000000LL;
            insert({++row, QStringLiteral("LR-%1").arg(i), QStringLiteral("Loved a message"),
                    kNullBlob, reactionDate, i % 40 == 0 ? 0 : 1, 0,
                    QStringLiteral("p:0/") + guid, 2000});
            join({row, reactionDate});
        }
    }
    sample.db = b.finish();
    return sample;
}

void addMessages(SampleBackup& backup, Era era)
{
    const Sample sample = sms(era);
    backup.addFile(QStringLiteral("HomeDomain"), kSmsPath, sample.db);
    for (const File& file : sample.files)
        backup.addFile(QLatin1String(media::kMediaDomain), file.path, file.content);
}

void addLongConversation(SampleBackup& backup, int count)
{
    const Sample sample = longConversation(count);
    backup.addFile(QStringLiteral("HomeDomain"), kSmsPath, sample.db);
    for (const File& file : sample.files)
        backup.addFile(QLatin1String(media::kMediaDomain), file.path, file.content);
}

} // namespace MessagesDatabases
