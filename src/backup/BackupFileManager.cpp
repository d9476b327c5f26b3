#include "backup/BackupFileManager.h"

#include "app/DmGlobal.h"
#include "util/Error.h"
#include "util/Sqlite.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <sqlite3.h>

TBackupFileManager::TBackupFileManager(const QString& APath, TdmGlobal& dm, EventHook eventHook,
                                       const QString& catalogFile)
    : m_dm(dm), m_eventHook(std::move(eventHook))
{
    if (!catalogFile.isEmpty()) {
        FDb = catalogFile;
        FIsSqlite = !catalogFile.endsWith(QLatin1String(".mbdb"));
        if (FIsSqlite)
            m_dm.openDatabase(FDb);
        return;
    }
    const QDir folder(APath);
    FDb = folder.filePath(QStringLiteral("Manifest.mbdb"));
    FIsSqlite = false;
    if (QFileInfo(FDb).isFile())
        return;
    FDb = folder.filePath(QStringLiteral("Manifest.db"));
    FIsSqlite = true;
    if (!QFileInfo(FDb).isFile())
        throw Error(QStringLiteral("no Manifest.mbdb or Manifest.db in %1").arg(APath));
    m_dm.openDatabase(FDb);
}

void TBackupFileManager::ParseDb()
{
    FRecords.clear();
    if (FIsSqlite)
        parseSqlite();
    else
        parseMbdb();
}

static QString catalogKey(QCryptographicHash& sha1, QByteArrayView domainUtf8,
                          QByteArrayView pathUtf8)
{
    sha1.reset();
    sha1.addData(domainUtf8);
    sha1.addData(QByteArrayView("-", 1));
    sha1.addData(pathUtf8);
    return QString::fromLatin1(sha1.resultView().toByteArray().toHex());
}

QString CatalogKey(QByteArrayView domainUtf8, QByteArrayView pathUtf8)
{
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    return catalogKey(sha1, domainUtf8, pathUtf8);
}

QString GetRealFileName(const QString& backupPath, const QString& Key)
{
    const QDir folder(backupPath);
    const QString flat = folder.filePath(Key);
    if (QFileInfo::exists(flat))
        return flat;
    return folder.filePath(Key.left(2) + QLatin1Char('/') + Key);
}

// Manifest.mbdb, as the device writes it (all integers big-endian):
//   header: 6 bytes, "mbdb" 05 00, not checked;
//   records back to back: five strings (domain, path, link target, data hash, encryption
//   key), a 40-byte block (uid at 10, gid at 14, length at 30, flag at 38, attribute count
//   at 39), then that many name/value string pairs.
//   A string is a 16-bit length and that many UTF-8 bytes; length FFFF means null.
namespace {

class MbdbReader
{
public:
    MbdbReader(const uchar* data, qint64 size) : m_data(data), m_size(size) {}

    qint64 pos() const { return m_pos; }
    qint64 size() const { return m_size; }
    bool atEnd() const { return m_pos >= m_size; }
    void seek(qint64 pos) { m_pos = pos; }

    // Each reader returns false, consuming nothing usable, when the data ends too soon.
    bool readBytes(qint64 count, QByteArrayView& out)
    {
        if (count > m_size - m_pos)
            return false;
        out = QByteArrayView(m_data + m_pos, count);
        m_pos += count;
        return true;
    }

    bool readString(QByteArrayView& out)
    {
        QByteArrayView length;
        if (!readBytes(2, length))
            return false;
        const int n = (uchar(length[0]) << 8) | uchar(length[1]);
        if (n == 0xFFFF) {
            out = {};
            return true;
        }
        return readBytes(n, out);
    }

private:
    const uchar* m_data;
    qint64 m_size;
    qint64 m_pos = 0;
};

quint32 readUInt32BE(QByteArrayView block, int offset)
{
    const auto* p = reinterpret_cast<const uchar*>(block.data()) + offset;
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
}

qint32 ReadInt32BE(QByteArrayView block, int offset)
{
    return qint32(readUInt32BE(block, offset));
}

qint64 ReadInt64BE(QByteArrayView block, int offset)
{
    return qint64((quint64(readUInt32BE(block, offset)) << 32) | readUInt32BE(block, offset + 4));
}

// Lenient: malformed sequences become U+FFFD, never an error.
QString decode(QByteArrayView bytes)
{
    return bytes.isEmpty() ? QString() : QString::fromUtf8(bytes);
}

constexpr qint64 kHeaderSize = 6;
constexpr qint64 kBlockSize = 40;

} // namespace

void TBackupFileManager::parseMbdb()
{
    QFile file(FDb);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("cannot open %1: %2").arg(FDb, file.errorString()));
    const qint64 size = file.size();
    QByteArray buffer;
    const uchar* data = size > 0 ? file.map(0, size) : nullptr;
    if (!data && size > 0) {
        buffer = file.readAll();
        if (buffer.size() != size)
            throw Error(QStringLiteral("cannot read %1: %2").arg(FDb, file.errorString()));
        data = reinterpret_cast<const uchar*>(buffer.constData());
    }

    QCryptographicHash sha1(QCryptographicHash::Sha1);
    MbdbReader reader(data, size);
    if (size < kHeaderSize)
        throw Error(QStringLiteral("%1 is truncated: it is shorter than its header").arg(FDb));
    reader.seek(kHeaderSize);

    while (!reader.atEnd()) {
        const qint64 start = reader.pos();
        FProgress = double(start) / double(size) * 100.0;
        handleEvents();
        if (FCancel)
            return;

        QByteArrayView strings[5];
        QByteArrayView block;
        bool complete = true;
        for (auto& s : strings)
            complete = complete && reader.readString(s);
        complete = complete && reader.readBytes(kBlockSize, block);

        TBackupFileRecord record;
        if (complete) {
            record.IsOld = true;
            record.Domain = decode(strings[0]);
            record.Path = decode(strings[1]);
            record.LinkTarget = decode(strings[2]);
            record.DataHash = decode(strings[3]);
            if (!strings[4].isEmpty())
                record.EncryptionKey = strings[4].toByteArray();
            // Modification, access and change times follow the ids; the first is kept.
            record.LastModified = quint32(ReadInt32BE(block, 18));
            record.UserId = ReadInt32BE(block, 10);
            record.GroupId = ReadInt32BE(block, 14);
            record.FileLength = ReadInt64BE(block, 30);
            record.Flag = quint8(block[38]);
            record.PropertyCount = quint8(block[39]);
            record.Properties.reserve(record.PropertyCount);
            for (int i = 0; complete && i < record.PropertyCount; ++i) {
                QByteArrayView name;
                QByteArrayView value;
                complete = reader.readString(name) && reader.readString(value);
                if (complete)
                    record.Properties.append({decode(name), decode(value)});
            }
        }
        if (!complete)
            throw Error(QStringLiteral("%1 is truncated: the record at byte %2 is cut short by "
                                       "the end of the file")
                            .arg(FDb)
                            .arg(start));
        // The device names a stored copy by the digest of the raw bytes; hashing those
        // (rather than re-encoded text) keeps malformed names pointing at their copies.
        record.Key = catalogKey(sha1, strings[0], strings[1]);
        FRecords.push_back(std::move(record));
    }
}

void TBackupFileManager::parseSqlite()
{
    QSqlQuery& query = m_dm.qrySQL;
    bool interrupted = false;
    auto fail = [this, &query, &interrupted]() -> Error {
        const QString text = query.lastError().databaseText();
        if (interrupted)
            return Error(QStringLiteral("reading %1 was cancelled").arg(FDb));
        if (text.contains(QLatin1String("no such table")))
            return Error(QStringLiteral("no table Files in %1").arg(FDb));
        return Error(describeSqlError(query.lastError(), FDb));
    };

    // A statement can run long before its first row (a hostile Files that is a recursive
    // view never yields one): the engine calls back every few thousand steps, so the window
    // stays live and Cancel interrupts it.
    sqlite3* handle = sqliteHandle(m_dm.connSqlite);
    struct Hook
    {
        TBackupFileManager* self;
        bool* interrupted;
    } hook{this, &interrupted};
    if (handle)
        sqlite3_progress_handler(
            handle, 10000,
            [](void* data) -> int {
                auto* h = static_cast<Hook*>(data);
                h->self->handleEvents();
                if (h->self->FCancel)
                    *h->interrupted = true;
                return h->self->FCancel ? 1 : 0;
            },
            &hook);
    const auto unhook = qScopeGuard([handle] {
        if (handle)
            sqlite3_progress_handler(handle, 0, nullptr, nullptr);
    });

    query.setForwardOnly(true);
    if (!query.exec(
            QStringLiteral("select type from sqlite_master where name = 'Files' collate nocase")))
        throw fail();
    if (!query.next())
        throw Error(QStringLiteral("no table Files in %1").arg(FDb));
    if (query.value(0).toString() != QLatin1String("table"))
        throw Error(QStringLiteral("Files in %1 is not a table").arg(FDb));

    if (!query.exec(QStringLiteral("select count(*) from Files"))) {
        if (interrupted)
            return;
        throw fail();
    }
    const qint64 total = query.next() ? query.value(0).toLongLong() : 0;

    if (!query.exec(QStringLiteral("select * from Files"))) {
        if (interrupted)
            return;
        throw fail();
    }
    const QSqlRecord columns = query.record();
    const int domainField = columns.indexOf(QStringLiteral("domain"));
    const int pathField = columns.indexOf(QStringLiteral("relativePath"));
    const int keyField = columns.indexOf(QStringLiteral("fileID"));
    if (domainField < 0 || pathField < 0 || keyField < 0)
        throw Error(QStringLiteral("the table Files in %1 lacks the columns domain, "
                                   "relativePath and fileID")
                        .arg(FDb));

    FRecords.reserve(size_t(std::max<qint64>(total, 0)));
    qint64 count = 0;
    while (query.next()) {
        handleEvents();
        if (FCancel)
            return;
        ++count;
        FProgress = total > 0 ? double(count) / double(total) * 100.0 : 100.0;
        TBackupFileRecord record;
        record.Domain = query.value(domainField).toString();
        record.Path = query.value(pathField).toString();
        record.Key = query.value(keyField).toString();
        FRecords.push_back(std::move(record));
    }
    if (interrupted || FCancel)
        return;
    if (query.lastError().isValid())
        throw fail();
}
