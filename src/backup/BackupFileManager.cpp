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
#include <cstring>
#include <sys/mman.h>

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

namespace {

constexpr size_t kBlockChars = size_t(1) << 20;

int hexValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

// A Key as the device writes it: 40 lowercase hex digits. Anything else is kept as text.
bool digestOf(QStringView key, quint8 (&digest)[20])
{
    if (key.size() != 40)
        return false;
    for (int i = 0; i < 20; ++i) {
        const int high = hexValue(key[2 * i].unicode());
        const int low = hexValue(key[2 * i + 1].unicode());
        if (high < 0 || low < 0)
            return false;
        digest[i] = quint8(high << 4 | low);
    }
    return true;
}

} // namespace

void TBackupFileRecords::clear()
{
    m_slots = {};
    m_blocks.clear();
    m_free = nullptr;
    m_freeLeft = 0;
    m_domains.clear();
    m_domainIds.clear();
    m_lastDomain = 0;
    m_extraStarts = {};
    m_extras.clear();
}

const char* TBackupFileRecords::store(QStringView first, QStringView second, bool& latin1)
{
    auto narrow = [](QStringView text) {
        for (const QChar c : text)
            if (c.unicode() > 0xFF)
                return false;
        return true;
    };
    latin1 = narrow(first) && narrow(second);
    const size_t chars = size_t(first.size()) + size_t(second.size());
    const size_t bytes = latin1 ? chars : 2 * chars + 1; // + 1: UTF-16 starts on an even byte
    if (bytes > m_freeLeft) {
        const size_t size = std::max(bytes, 2 * kBlockChars);
        m_blocks.push_back(std::make_unique_for_overwrite<char[]>(size));
        m_free = m_blocks.back().get();
        m_freeLeft = size;
    }
    char* at = m_free;
    if (latin1) {
        char* out = at;
        for (const QChar c : first)
            *out++ = char(c.unicode());
        for (const QChar c : second)
            *out++ = char(c.unicode());
    } else {
        if (quintptr(at) & 1)
            ++at;
        std::memcpy(at, first.utf16(), size_t(first.size()) * 2);
        std::memcpy(at + first.size() * 2, second.utf16(), size_t(second.size()) * 2);
    }
    const size_t used = size_t(at - m_free) + (latin1 ? chars : 2 * chars);
    m_free += used;
    m_freeLeft -= used;
    return at;
}

QStringView TBackupFileRecords::textAt(const char* at, qsizetype length, bool latin1,
                                       QString& buffer)
{
    if (!latin1)
        return QStringView(reinterpret_cast<const char16_t*>(at), length);
    if (buffer.size() < length)
        buffer.resize(std::max<qsizetype>(length, 256));
    QChar* out = buffer.data();
    for (qsizetype i = 0; i < length; ++i)
        out[i] = QLatin1Char(at[i]);
    return QStringView(buffer).first(length);
}

QStringView TBackupFileRecords::path(size_t index, QString& buffer) const
{
    const Slot& slot = m_slots[index];
    return textAt(slot.path, qsizetype(slot.pathLength & ~kLatin1), slot.pathLength & kLatin1,
                  buffer);
}

quint32 TBackupFileRecords::internDomain(QStringView domain)
{
    if (m_lastDomain < quint32(m_domains.size()) && m_domains[m_lastDomain] == domain)
        return m_lastDomain;
    const QString text = domain.toString();
    auto found = m_domainIds.constFind(text);
    if (found == m_domainIds.cend()) {
        found = m_domainIds.insert(text, quint32(m_domains.size()));
        m_domains.append(text);
    }
    m_lastDomain = *found;
    return m_lastDomain;
}

void TBackupFileRecords::append(QStringView domain, QStringView path, QStringView key,
                                QByteArrayView extras)
{
    Slot slot{};
    slot.domain = internDomain(domain);
    if (digestOf(key, slot.key))
        key = {};
    else
        slot.keyLength = quint32(std::min<qsizetype>(key.size(), 0x7FFFFFF0)) + 1;
    push(slot, path, key.first(slot.keyLength ? slot.keyLength - 1 : 0), extras);
}

void TBackupFileRecords::appendHashed(QStringView domain, QStringView path, QByteArrayView digest,
                                      QByteArrayView extras)
{
    Slot slot{};
    slot.domain = internDomain(domain);
    std::copy_n(digest.data(), std::min<qsizetype>(digest.size(), 20), slot.key);
    push(slot, path, {}, extras);
}

void TBackupFileRecords::push(Slot slot, QStringView path, QStringView keyText,
                              QByteArrayView extras)
{
    slot.pathLength = quint32(std::min<qsizetype>(path.size(), 0x7FFFFFF0));
    bool latin1 = false;
    slot.path = store(path.first(slot.pathLength), keyText, latin1);
    if (latin1)
        slot.pathLength |= kLatin1;
    if (!extras.isNull() || !m_extraStarts.empty()) {
        if (m_extraStarts.empty())
            m_extraStarts.assign(m_slots.size() + 1, 0);
        m_extras.append(extras);
        m_extraStarts.push_back(m_extras.size());
    }
    m_slots.push_back(slot);
}

QString TBackupFileRecords::key(size_t index) const
{
    const Slot& slot = m_slots[index];
    if (slot.keyLength > 0) {
        const bool latin1 = slot.pathLength & kLatin1;
        const qsizetype pathLength = qsizetype(slot.pathLength & ~kLatin1);
        QString buffer;
        return textAt(slot.path + (latin1 ? pathLength : 2 * pathLength),
                      qsizetype(slot.keyLength - 1), latin1, buffer)
            .toString();
    }
    static const char digits[] = "0123456789abcdef";
    QString text(40, Qt::Uninitialized);
    QChar* out = text.data();
    for (int i = 0; i < 20; ++i) {
        out[2 * i] = QLatin1Char(digits[slot.key[i] >> 4]);
        out[2 * i + 1] = QLatin1Char(digits[slot.key[i] & 15]);
    }
    return text;
}

TBackupFileRecord TBackupFileRecords::at(size_t index) const
{
    if (index >= size())
        throw std::out_of_range("TBackupFileRecords::at");
    return (*this)[index];
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

// The same into a buffer kept from call to call; names are mostly ASCII, which needs no decoder.
QStringView decodeInto(QByteArrayView bytes, QString& buffer)
{
    const qsizetype n = bytes.size();
    bool ascii = true;
    for (qsizetype i = 0; i < n && ascii; ++i)
        ascii = uchar(bytes[i]) < 0x80;
    if (!ascii) {
        buffer = QString::fromUtf8(bytes);
        return buffer;
    }
    if (buffer.size() < n)
        buffer.resize(std::max<qsizetype>(n, 256));
    QChar* out = buffer.data();
    for (qsizetype i = 0; i < n; ++i)
        out[i] = QLatin1Char(bytes[i]);
    return QStringView(buffer).first(n);
}

constexpr qint64 kHeaderSize = 6;
constexpr qint64 kBlockSize = 40;

} // namespace

TBackupFileRecord TBackupFileRecords::operator[](size_t index) const
{
    TBackupFileRecord record;
    record.Domain = domain(index);
    QString buffer;
    record.Path = path(index, buffer).toString();
    record.Key = key(index);
    if (m_extraStarts.empty())
        return record;
    // What follows the path in a Manifest.mbdb entry, checked when it was read.
    const qint64 begin = m_extraStarts[index];
    const qint64 end = m_extraStarts[index + 1];
    MbdbReader reader(reinterpret_cast<const uchar*>(m_extras.constData()) + begin, end - begin);
    QByteArrayView strings[3];
    QByteArrayView block;
    for (auto& text : strings)
        reader.readString(text);
    if (!reader.readBytes(kBlockSize, block))
        return record;
    record.IsOld = true;
    record.LinkTarget = decode(strings[0]);
    record.DataHash = decode(strings[1]);
    if (!strings[2].isEmpty())
        record.EncryptionKey = strings[2].toByteArray();
    // Modification, access and change times follow the ids; the first is kept.
    record.LastModified = quint32(ReadInt32BE(block, 18));
    record.UserId = ReadInt32BE(block, 10);
    record.GroupId = ReadInt32BE(block, 14);
    record.FileLength = ReadInt64BE(block, 30);
    record.Flag = quint8(block[38]);
    record.PropertyCount = quint8(block[39]);
    record.Properties.reserve(record.PropertyCount);
    for (int i = 0; i < record.PropertyCount; ++i) {
        QByteArrayView name;
        QByteArrayView value;
        if (!reader.readString(name) || !reader.readString(value))
            break;
        record.Properties.append({decode(name), decode(value)});
    }
    return record;
}

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
    QString domainText;
    QString pathText;
    FRecords.reserveExtras(size);
    MbdbReader reader(data, size);
    if (size < kHeaderSize)
        throw Error(QStringLiteral("%1 is truncated: it is shorter than its header").arg(FDb));
    reader.seek(kHeaderSize);

    // The pages read are given back as the reader goes: what it keeps it has copied, and a
    // million-record catalog mapped whole would count against the memory of the load.
    const bool mapped = buffer.isEmpty() && data;
    qint64 released = 0;
    constexpr qint64 kReleaseStep = 16 << 20;
    while (!reader.atEnd()) {
        const qint64 start = reader.pos();
        if (mapped && start - released >= 2 * kReleaseStep) {
            madvise(const_cast<uchar*>(data) + released, size_t(kReleaseStep), MADV_DONTNEED);
            released += kReleaseStep;
        }
        FProgress = double(start) / double(size) * 100.0;
        handleEvents();
        if (FCancel)
            return;

        QByteArrayView domain;
        QByteArrayView path;
        QByteArrayView skipped;
        QByteArrayView block;
        bool complete = reader.readString(domain) && reader.readString(path);
        const qint64 extrasStart = reader.pos();
        for (int i = 0; complete && i < 3; ++i)
            complete = reader.readString(skipped);
        complete = complete && reader.readBytes(kBlockSize, block);
        const int properties = complete ? quint8(block[39]) : 0;
        for (int i = 0; complete && i < properties; ++i)
            complete = reader.readString(skipped) && reader.readString(skipped);
        if (!complete)
            throw Error(QStringLiteral("%1 is truncated: the record at byte %2 is cut short by "
                                       "the end of the file")
                            .arg(FDb)
                            .arg(start));
        // The device names a stored copy by the digest of the raw bytes; hashing those
        // (rather than re-encoded text) keeps malformed names pointing at their copies.
        sha1.reset();
        sha1.addData(domain);
        sha1.addData(QByteArrayView("-", 1));
        sha1.addData(path);
        FRecords.appendHashed(
            decodeInto(domain, domainText), decodeInto(path, pathText), sha1.resultView(),
            QByteArrayView(data + extrasStart, reader.pos() - extrasStart));
    }
}

void TBackupFileManager::parseSqlite()
{
    sqlite3* handle = sqliteHandle(m_dm.connSqlite);
    if (!handle)
        throw Error(QStringLiteral("%1: the database is not open").arg(FDb));
    bool interrupted = false;
    auto fail = [this, handle, &interrupted]() -> Error {
        if (interrupted)
            return Error(QStringLiteral("reading %1 was cancelled").arg(FDb));
        const QString text = QString::fromUtf8(sqlite3_errmsg(handle));
        if (text.contains(QLatin1String("no such table")))
            return Error(QStringLiteral("no table Files in %1").arg(FDb));
        return Error(describeSqlError(
            QSqlError(QString(), text, QSqlError::StatementError,
                      QString::number(sqlite3_extended_errcode(handle))),
            FDb));
    };

    // A statement can run long before its first row (a hostile Files that is a recursive
    // view never yields one): the engine calls back every few thousand steps, so the window
    // stays live and Cancel interrupts it.
    struct Hook
    {
        TBackupFileManager* self;
        bool* interrupted;
    } hook{this, &interrupted};
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
    const auto unhook =
        qScopeGuard([handle] { sqlite3_progress_handler(handle, 0, nullptr, nullptr); });

    struct Statement
    {
        sqlite3_stmt* handle = nullptr;
        ~Statement() { sqlite3_finalize(handle); }
    };
    auto prepare = [&](Statement& statement, const char* sql) {
        sqlite3_finalize(statement.handle);
        statement.handle = nullptr;
        if (sqlite3_prepare_v2(handle, sql, -1, &statement.handle, nullptr) != SQLITE_OK)
            throw fail();
    };
    // SQLITE_ROW, or false at the end; throws on an error, returns false when cancelled.
    auto step = [&](Statement& statement) {
        const int rc = sqlite3_step(statement.handle);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE || interrupted)
            return false;
        throw fail();
    };

    Statement statement;
    prepare(statement,
            "select type from sqlite_master where name = 'Files' collate nocase");
    if (!step(statement)) {
        if (interrupted)
            return;
        throw Error(QStringLiteral("no table Files in %1").arg(FDb));
    }
    if (QByteArrayView(reinterpret_cast<const char*>(sqlite3_column_text(statement.handle, 0)))
        != "table")
        throw Error(QStringLiteral("Files in %1 is not a table").arg(FDb));

    prepare(statement, "select * from Files");
    bool haveDomain = false;
    bool havePath = false;
    bool haveKey = false;
    for (int i = 0; i < sqlite3_column_count(statement.handle); ++i) {
        const char* name = sqlite3_column_name(statement.handle, i);
        haveDomain = haveDomain || sqlite3_stricmp(name, "domain") == 0;
        havePath = havePath || sqlite3_stricmp(name, "relativePath") == 0;
        haveKey = haveKey || sqlite3_stricmp(name, "fileID") == 0;
    }
    if (!haveDomain || !havePath || !haveKey)
        throw Error(QStringLiteral("the table Files in %1 lacks the columns domain, "
                                   "relativePath and fileID")
                        .arg(FDb));

    // The largest rowid stands in for the number of rows: counting them would read the whole
    // table once more. A table without rowids is counted.
    qint64 total = 0;
    try {
        prepare(statement, "select max(rowid) from Files");
    } catch (const Error&) {
        prepare(statement, "select count(*) from Files");
    }
    if (!step(statement))
        return;
    total = sqlite3_column_int64(statement.handle, 0);

    // Only the three columns used: the `file` attributes are read when a file is opened.
    prepare(statement, "select domain, relativePath, fileID from Files");
    FRecords.reserve(size_t(std::clamp<qint64>(total, 0, 1 << 24)));
    auto text16 = [&statement](int column) {
        const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(statement.handle, column));
        return QStringView(text, sqlite3_column_bytes16(statement.handle, column) / 2);
    };
    qint64 count = 0;
    while (step(statement)) {
        handleEvents();
        if (FCancel)
            return;
        ++count;
        FProgress = total > 0 ? std::min(double(count) / double(total) * 100.0, 99.9) : 99.9;
        FRecords.append(text16(0), text16(1), text16(2));
    }
    if (interrupted || FCancel)
        return;
    if (count > 0)
        FProgress = 100.0;
}
