#include "CurrentDatabases.h"

#include "MediaData.h"

#include "SampleBackup.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>
#include <QVariant>

#include <zlib.h>

#include <stdexcept>

namespace {

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

// One SQLite file built in a temporary folder; finish() hands back its bytes.
class Builder final
{
public:
    Builder() : m_name(QStringLiteral("currentdb-%1").arg(QUuid::createUuid().toString()))
    {
        if (!m_dir.isValid())
            fail(QStringLiteral("cannot create a temporary folder"));
        m_file = m_dir.filePath(QStringLiteral("db.sqlite"));
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
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        if (!q.exec(sql))
            fail(QStringLiteral("%1: %2").arg(sql, q.lastError().text()));
    }
    void insert(const QString& sql, const QList<QVariantList>& rows)
    {
        QSqlQuery q(QSqlDatabase::database(m_name, false));
        if (!q.prepare(sql))
            fail(QStringLiteral("%1: %2").arg(sql, q.lastError().text()));
        for (const QVariantList& row : rows) {
            for (int i = 0; i < row.size(); ++i)
                q.bindValue(i, row[i]);
            if (!q.exec())
                fail(QStringLiteral("%1: %2").arg(sql, q.lastError().text()));
        }
    }
    QByteArray finish()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.commit();
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
        QFile f(m_file);
        if (!f.open(QIODevice::ReadOnly))
            fail(QStringLiteral("cannot read %1").arg(m_file));
        return f.readAll();
    }

private:
    QTemporaryDir m_dir;
    QString m_name;
    QString m_file;
};

const QVariant kNull(QMetaType::fromType<QString>());
const QVariant kNullBlob(QMetaType::fromType<QByteArray>());

QByteArray varint(quint64 value)
{
    QByteArray out;
    do {
        quint8 byte = value & 0x7f;
        value >>= 7;
        if (value)
            byte |= 0x80;
        out += char(byte);
    } while (value);
    return out;
}

QByteArray lengthField(quint64 field, const QByteArray& value)
{
    return varint(field << 3 | 2) + varint(quint64(value.size())) + value;
}

QByteArray varintField(quint64 field, quint64 value)
{
    return varint(field << 3) + varint(value);
}

QByteArray gzip(const QByteArray& data)
{
    z_stream stream{};
    // 15 + 16: a gzip header, as the phone writes it.
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) !=
        Z_OK)
        fail(QStringLiteral("deflateInit2 failed"));
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int status = deflate(&stream, Z_FINISH);
    deflateEnd(&stream);
    if (status != Z_STREAM_END)
        fail(QStringLiteral("deflate failed"));
    out.truncate(qsizetype(stream.total_out));
    return out;
}

const char kNotesDomain[] = "AppDomainGroup-group.com.apple.notes";
const char kVoiceMemosDomain[] = "AppDomainGroup-group.com.apple.VoiceMemos.shared";

struct Memo
{
    const char* file;
    double frequency;
    const char* titleTag; // in the file, or nullptr
};

// The voice memos' files; the database's last row has none in the backup.
const Memo kMemos[] = {
    {"20231105 101500-1A2B3C4D.m4a", 440, nullptr},
    {"20240212 193000-5E6F7A8B.m4a", 660, nullptr},
    {"20240301 080000-9C0D1E2F.m4a", 550, "Kitchen idea"},
    {"20240315 120000-3A4B5C6D.m4a", 330, nullptr},
    {"20240320 070000-7B8C9D0E.m4a", 880, nullptr},
};

// A fixed identifier in the form the phone gives its rows, so the demo stays the same.
QString uid(int n)
{
    return QStringLiteral("5A1E%1-0000-4000-8000-%2")
        .arg(n, 4, 10, QLatin1Char('0'))
        .arg(n, 12, 10, QLatin1Char('0'));
}

} // namespace

namespace CurrentDatabases {

QByteArray callHistoryStore()
{
    Builder b;
    b.exec(QStringLiteral("CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, "
                          "Z_SUPER INTEGER, Z_MAX INTEGER)"));
    b.exec(QStringLiteral("INSERT INTO Z_PRIMARYKEY VALUES (2, 'CallRecord', 0, 7)"));
    b.exec(QStringLiteral(
        "CREATE TABLE ZCALLRECORD (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
        "ZANSWERED INTEGER, ZCALL_CATEGORY INTEGER, ZCALLTYPE INTEGER, ZDISCONNECTED_CAUSE "
        "INTEGER, ZFACE_TIME_DATA BLOB, ZNUMBER_AVAILABILITY INTEGER, ZORIGINATED INTEGER, ZREAD "
        "INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZADDRESS BLOB, ZDEVICE_ID VARCHAR, "
        "ZISO_COUNTRY_CODE VARCHAR, ZLOCATION VARCHAR, ZNAME VARCHAR, ZSERVICE_PROVIDER VARCHAR, "
        "ZUNIQUE_ID VARCHAR)"));
    // Dates: seconds since 2001-01-01 UTC. 700000000 is 2023-03-08 20:26:40 UTC.
    b.insert(QStringLiteral("INSERT INTO ZCALLRECORD (Z_PK, Z_ENT, Z_OPT, ZANSWERED, ZCALLTYPE, "
                            "ZORIGINATED, ZREAD, ZDATE, ZDURATION, ZADDRESS, ZISO_COUNTRY_CODE, "
                            "ZLOCATION, ZNAME, ZSERVICE_PROVIDER, ZUNIQUE_ID) VALUES (?, 2, 1, ?, "
                            "?, ?, 1, ?, ?, ?, ?, ?, ?, ?, ?)"),
             {// Outgoing phone call to 张伟, the number written as the network gives it.
              {1, 1, 1, 1, 700000000.25, 62.4, QByteArray("+86 138 0013 8000"), "cn", "China",
               kNull, "com.apple.Telephony", uid(1)},
              // Incoming from a number in nobody's card, over an hour.
              {2, 1, 1, 0, 700086400.0, 3725.0, QByteArray("+14155550199"), "us",
               "San Francisco, CA", kNull, "com.apple.Telephony", uid(2)},
              // Missed, the number kept as text (older models do).
              {3, 0, 1, 0, 700172800.0, 0.0, QStringLiteral("13900139000"), "cn", kNull, kNull,
               "com.apple.Telephony", uid(3)},
              // FaceTime video to an e-mail address.
              {4, 1, 8, 1, 700259200.0, 305.0, QByteArray("Zoe.Mueller@example.de"), kNull, kNull,
               kNull, "com.apple.FaceTime", uid(4)},
              // FaceTime audio from a card's number written without spaces.
              {5, 1, 16, 0, 700345600.0, 45.0, QByteArray("+49301234567"), "de", kNull, kNull,
               "com.apple.FaceTime", uid(5)},
              // Another app's call: the name it reported, the app as the service.
              {6, 1, 1, 0, 700432000.0, 90.0, QByteArray("+447700900123"), "gb", kNull,
               QStringLiteral("Ada Lovelace"), "net.whatsapp.WhatsApp", uid(6)},
              // Missed FaceTime audio.
              {7, 0, 16, 0, 700518400.0, 0.0, QByteArray("+14155550199"), kNull, kNull, kNull,
               "com.apple.FaceTime", uid(7)}});
    return b.finish();
}

QString longNoteText()
{
    QString text = QStringLiteral("Trip diary\n");
    for (int day = 1; day <= 40; ++day)
        text += QStringLiteral("Day %1: walked along the river, 天气很好, lunch at the market.\n")
                    .arg(day);
    text += QChar(0xFFFC); // a photo attached at the end
    return text;
}

QByteArray noteBody(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    // One attribute run over the whole text (length, then a paragraph style) after the text,
    // and neighbours of other wire types, as the phone has them.
    const QByteArray run = varintField(1, quint64(text.size())) +
                           lengthField(2, varintField(1, 0)) + varintField(13, 1);
    const QByteArray note = lengthField(2, utf8) + lengthField(5, run);
    const QByteArray document = varintField(2, 0) + lengthField(3, note);
    const QByteArray proto = varintField(1, 0) + lengthField(2, document);
    return gzip(proto);
}

QByteArray noteStore()
{
    Builder b;
    b.exec(QStringLiteral("CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, "
                          "Z_SUPER INTEGER, Z_MAX INTEGER)"));
    // Entity numbers of another model than the real iOS 15 file: readers look them up.
    b.insert(QStringLiteral("INSERT INTO Z_PRIMARYKEY VALUES (?, ?, ?, ?)"),
             {{3, "ICAttachment", 2, 0},
              {9, "ICMedia", 2, 0},
              {12, "ICNote", 2, 10},
              {15, "ICAccount", 14, 1},
              {16, "ICFolder", 14, 3},
              {19, "ICNoteData", 0, 10}});
    b.exec(QStringLiteral(
        "CREATE TABLE ZICCLOUDSYNCINGOBJECT (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT "
        "INTEGER, ZISPASSWORDPROTECTED INTEGER, ZMARKEDFORDELETION INTEGER, ZACCOUNT7 INTEGER, "
        "ZFOLDER INTEGER, ZNOTEDATA INTEGER, ZFOLDERTYPE INTEGER, ZCREATIONDATE TIMESTAMP, "
        "ZCREATIONDATE1 TIMESTAMP, ZCREATIONDATE3 TIMESTAMP, ZMODIFICATIONDATE1 TIMESTAMP, "
        "ZSNIPPET VARCHAR, ZTITLE VARCHAR, ZTITLE1 VARCHAR, ZTITLE2 VARCHAR, ZIDENTIFIER "
        "VARCHAR)"));
    b.exec(QStringLiteral("CREATE TABLE ZICNOTEDATA (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, "
                          "Z_OPT INTEGER, ZNOTE INTEGER, ZCRYPTOINITIALIZATIONVECTOR BLOB, "
                          "ZCRYPTOTAG BLOB, ZDATA BLOB)"));
    // The account and its folders.
    b.insert(QStringLiteral("INSERT INTO ZICCLOUDSYNCINGOBJECT (Z_PK, Z_ENT, Z_OPT, ZTITLE2, "
                            "ZFOLDERTYPE, ZIDENTIFIER) VALUES (?, ?, 1, ?, ?, ?)"),
             {{1, 15, "iCloud", kNull, "LocalAccount"},
              {2, 16, "Notes", 0, "DefaultFolder-CloudKit"},
              {3, 16, "Travel", 0, uid(8)},
              {4, 16, "Recently Deleted", 1, "TrashFolder-CloudKit"}});
    // Notes: dates in seconds since 2001; 720000000 is 2023-10-26 08:00:00 UTC.
    b.insert(QStringLiteral(
                 "INSERT INTO ZICCLOUDSYNCINGOBJECT (Z_PK, Z_ENT, Z_OPT, ZISPASSWORDPROTECTED, "
                 "ZMARKEDFORDELETION, ZACCOUNT7, ZFOLDER, ZNOTEDATA, ZCREATIONDATE1, "
                 "ZMODIFICATIONDATE1, ZSNIPPET, ZTITLE1, ZIDENTIFIER) VALUES (?, 12, 1, ?, ?, 1, "
                 "?, ?, ?, ?, ?, ?, ?)"),
             {{10, 0, 0, 2, 1, 720000000.5, 720003600.0, "Milk, eggs, bread", "Shopping", uid(9)},
              {11, 0, 0, 3, 2, 720100000.0, 720200000.0, "Day 1: walked along the river",
               "Trip diary", uid(10)},
              {12, 1, 0, 2, 3, 720300000.0, 720300500.0, kNull, "Bank PINs", uid(11)},
              // Marked for deletion: gone from the phone's lists, still in the file.
              {13, 0, 1, 2, 4, 720400000.0, 720400100.0, "Old draft", "Old draft", uid(12)},
              // In the trash folder: still the user's, shown with its folder.
              {14, 0, 0, 4, 5, 720500000.0, 720500100.0, "Packing list", "Packing list", uid(13)},
              // Its body is not on the device (iCloud only).
              {15, 0, 0, 2, kNull, 720600000.0, 720600100.0, "Ideas", "Ideas", uid(14)}});
    // A locked note's body is ciphertext with its IV and tag.
    QByteArray cipher;
    for (int i = 0; i < 96; ++i)
        cipher += char((i * 73 + 41) & 0xff);
    b.insert(
        QStringLiteral("INSERT INTO ZICNOTEDATA (Z_PK, Z_ENT, Z_OPT, ZNOTE, "
                       "ZCRYPTOINITIALIZATIONVECTOR, ZCRYPTOTAG, ZDATA) VALUES (?, 19, 1, ?, "
                       "?, ?, ?)"),
        {{1, 10, kNullBlob, kNullBlob,
          noteBody(QStringLiteral("Shopping\nMilk, eggs, bread\n\"Organic\" if they have it"))},
         {2, 11, kNullBlob, kNullBlob, noteBody(longNoteText())},
         {3, 12, QByteArray(16, '\x11'), QByteArray(16, '\x22'), cipher},
         {4, 13, kNullBlob, kNullBlob, noteBody(QStringLiteral("Old draft\nnever sent"))},
         {5, 14, kNullBlob, kNullBlob,
          noteBody(QStringLiteral("Packing list\n护照, charger, 雨伞"))}});
    return b.finish();
}

QByteArray cloudRecordings()
{
    Builder b;
    b.exec(QStringLiteral("CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, "
                          "Z_SUPER INTEGER, Z_MAX INTEGER)"));
    b.exec(QStringLiteral("INSERT INTO Z_PRIMARYKEY VALUES (1, 'CloudRecording', 0, 6)"));
    b.exec(QStringLiteral(
        "CREATE TABLE ZCLOUDRECORDING (Z_PK INTEGER PRIMARY KEY, Z_ENT INTEGER, Z_OPT INTEGER, "
        "ZFLAGS INTEGER, ZFOLDER INTEGER, ZDATE TIMESTAMP, ZDURATION FLOAT, ZEVICTIONDATE "
        "TIMESTAMP, ZCUSTOMLABEL VARCHAR, ZCUSTOMLABELFORSORTING VARCHAR, ZENCRYPTEDTITLE VARCHAR, "
        "ZPATH VARCHAR, ZUNIQUEID VARCHAR)"));
    // Dates as the files are named, in seconds since 2001 (720872100 is 2023-11-05 10:15:00 UTC).
    b.insert(QStringLiteral("INSERT INTO ZCLOUDRECORDING (Z_PK, Z_ENT, Z_OPT, ZFLAGS, ZDATE, "
                            "ZDURATION, ZEVICTIONDATE, ZCUSTOMLABEL, ZCUSTOMLABELFORSORTING, "
                            "ZENCRYPTEDTITLE, ZPATH, ZUNIQUEID) VALUES (?, 1, 1, 0, ?, ?, ?, ?, "
                            "?, ?, ?, ?)"),
             {// The user's title, with characters no file name may hold.
              {1, 720872100.0, 1.0, kNull, QStringLiteral("Interview: Zoë / part 1"),
               QStringLiteral("Interview: Zoë / part 1"), kNull, kMemos[0].file, uid(15)},
              // iOS 17: the title encrypted, the sorting label plain.
              {2, 729459000.0, 1.0, kNull, kNull, QStringLiteral("Band practice"),
               QStringLiteral("AQIDBAUGBwgJCgsMDQ4PEA=="), kMemos[1].file, uid(16)},
              // No label: the file's own title tag.
              {3, 730972800.0, 1.0, kNull, kNull, kNull, kNull, kMemos[2].file, uid(17)},
              // Neither: the file name.
              {4, 732196800.0, 1.0, kNull, kNull, kNull, kNull, kMemos[3].file, uid(18)},
              // Recently deleted; the path as older models keep it, in full.
              {5, 732610800.0, 1.0, 733000000.0, QStringLiteral("Old reminder"), kNull, kNull,
               QStringLiteral("/var/mobile/Media/Recordings/") + kMemos[4].file, uid(19)},
              // Offloaded to iCloud: no file in the backup.
              {6, 733654800.0, 12.0, kNull, QStringLiteral("Lecture"), kNull, kNull,
               "20240401 090000-DEADBEEF.m4a", uid(20)}});
    return b.finish();
}

QByteArray titledRecording(double seconds, double frequency, const QString& title)
{
    QStringList args{QStringLiteral("-f"),
                     QStringLiteral("lavfi"),
                     QStringLiteral("-i"),
                     QStringLiteral("sine=frequency=%1:duration=%2:sample_rate=44100")
                         .arg(frequency)
                         .arg(seconds),
                     QStringLiteral("-c:a"),
                     QStringLiteral("aac")};
    if (!title.isEmpty())
        args << QStringLiteral("-metadata") << QStringLiteral("title=") + title;
    args << QStringLiteral("-f") << QStringLiteral("ipod");
    return media::runFfmpeg(args, QStringLiteral("m4a"));
}

} // namespace CurrentDatabases

void addCurrentDatabases(SampleBackup& backup)
{
    using namespace CurrentDatabases;
    backup.addFile(QStringLiteral("HomeDomain"),
                   QStringLiteral("Library/CallHistoryDB/CallHistory.storedata"),
                   callHistoryStore());
    backup.addFile(QLatin1String(kNotesDomain), QStringLiteral("NoteStore.sqlite"), noteStore());
    const QString memos = QLatin1String(kVoiceMemosDomain);
    backup.addDirectory(memos, QStringLiteral("Recordings"));
    backup.addFile(memos, QStringLiteral("Recordings/CloudRecordings.db"), cloudRecordings());
    for (const Memo& memo : kMemos)
        backup.addFile(memos, QStringLiteral("Recordings/") + QLatin1String(memo.file),
                       titledRecording(1.0, memo.frequency,
                                       memo.titleTag ? QLatin1String(memo.titleTag) : QString()));
}
