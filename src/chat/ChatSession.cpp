#include "chat/ChatSession.h"

#include "backup/BackupFileManager.h"
#include "chat/ChatConversation.h"
#include "chat/ChatMedia.h"
#include "chat/ChatPage.h"
#include "util/Error.h"
#include "util/Sqlite.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <tuple>

namespace {

constexpr qint64 kBlockSize = 1024;
constexpr qint64 kPumpIntervalNs = 5'000'000;

void makeFolder(const QString& path)
{
    if (!QDir().mkpath(path))
        throw Error(QStringLiteral("cannot create the folder %1").arg(path));
}

QSqlQuery runQuery(const QSqlDatabase& db, const QString& sql, const QString& path)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw Error(describeSqlError(query.lastError(), path));
    return query;
}

int column(const QSqlQuery& query, const char* name, const QString& path)
{
    const int i = query.record().indexOf(QLatin1String(name));
    if (i < 0)
        throw Error(QStringLiteral("%1: no such column: %2").arg(path, QLatin1String(name)));
    return i;
}

// Appends src from offset to its end onto dst in blocks.
void appendFile(QFile& src, qint64 offset, QFile& dst)
{
    if (!src.seek(offset))
        throw Error(QStringLiteral("cannot read %1: %2").arg(src.fileName(), src.errorString()));
    char block[kBlockSize];
    for (;;) {
        const qint64 n = src.read(block, kBlockSize);
        if (n < 0)
            throw Error(
                QStringLiteral("cannot read %1: %2").arg(src.fileName(), src.errorString()));
        if (n == 0)
            break;
        if (dst.write(block, n) != n)
            throw Error(
                QStringLiteral("cannot write %1: %2").arg(dst.fileName(), dst.errorString()));
    }
}

void openForWriting(QFile& file)
{
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Error(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
}

} // namespace

TChatSession::TChatSession(const QString& dbPath, const QHash<QString, QString>& recordDict,
                           const QString& backupPath, const QString& root, const QString& tempPath)
    : FDb(dbPath), FRoot(root), FBackupPath(backupPath), FRecordDict(recordDict)
{
    static std::atomic<int> counter{0};
    m_connectionName = QStringLiteral("ferrowick-chat-%1").arg(++counter);
    FTempPath = QDir::cleanPath(tempPath) + QLatin1Char('/');
    makeFolder(FTempPath);
    for (const char* name : {"Audio", "Image", "Video"})
        makeFolder(tempFolder(name));
    FTempFile = FTempPath + QStringLiteral("wechathistory.html");
}

TChatSession::~TChatSession()
{
    for (const Database& database : m_databases) {
        {
            QSqlDatabase db = QSqlDatabase::database(database.connection, false);
            if (db.isValid())
                db.close();
        }
        QSqlDatabase::removeDatabase(database.connection);
    }
}

namespace {

// The order the databases of a DB folder are read in: MM.sqlite, WCDB_Contact.sqlite, the
// message shards by number, then any other, by name.
int databaseRank(const QString& name, qint64* number)
{
    *number = 0;
    if (name == QLatin1String("MM.sqlite"))
        return 0;
    if (name == QLatin1String("WCDB_Contact.sqlite"))
        return 1;
    static const QRegularExpression shard(QStringLiteral("^message_(\\d{1,9})\\.sqlite$"));
    const QRegularExpressionMatch m = shard.match(name);
    if (m.hasMatch()) {
        *number = m.captured(1).toLongLong();
        return 2;
    }
    return 3;
}

} // namespace

void TChatSession::openDatabase(const QString& name, const QString& path)
{
    Database database;
    database.name = name;
    database.path = path;
    database.connection = m_connectionName + QLatin1Char('-') + QString::number(m_databases.size());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), database.connection);
    try {
        openReadOnlyDatabase(db, path);
        QSqlQuery tables = runQuery(
            db,
            QStringLiteral("SELECT name FROM sqlite_master WHERE type='table' AND "
                           "name LIKE 'Chat\\_%' ESCAPE '\\'"),
            path);
        while (tables.next())
            database.chatTables.insert(tables.value(0).toString());
    } catch (const Error&) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(database.connection);
        throw;
    }
    m_chatTables.unite(database.chatTables);
    m_databases.push_back(std::move(database));
}

QStringList TChatSession::databaseNames() const
{
    QStringList names;
    for (const Database& db : m_databases)
        names << db.name;
    return names;
}

void TChatSession::InitFriends()
{
    // Every *.sqlite directly in the account's DB folder; dbPath stands for MM.sqlite.
    const QString dbFolder = FRoot + QStringLiteral("DB/");
    struct Found
    {
        int rank;
        qint64 number;
        QString name;
        QString stored;
    };
    std::vector<Found> found;
    for (auto it = FRecordDict.constBegin(); it != FRecordDict.constEnd(); ++it) {
        const QString& path = it.key();
        if (!path.startsWith(dbFolder) || !path.endsWith(QLatin1String(".sqlite")))
            continue;
        const QString name = path.mid(dbFolder.size());
        if (name.contains(QLatin1Char('/')) || name == QLatin1String(".sqlite"))
            continue;
        if (!FDb.isEmpty() && name == QLatin1String("MM.sqlite"))
            continue;
        qint64 number = 0;
        const int rank = databaseRank(name, &number);
        found.push_back({rank, number, name, it.value()});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::tie(a.rank, a.number, a.name) < std::tie(b.rank, b.number, b.name);
    });

    if (!FDb.isEmpty())
        openDatabase(QStringLiteral("MM.sqlite"), FDb);
    QString firstFailure;
    for (const Found& f : found) {
        try {
            const QString path =
                m_databaseReader ? m_databaseReader(f.stored) : ::GetRealFileName(FBackupPath, f.stored);
            openDatabase(f.name, path);
        } catch (const Error& e) {
            if (firstFailure.isEmpty())
                firstFailure = e.message();
            m_warnings.append({f.name, e.message()});
        }
    }
    if (m_databases.empty()) {
        if (!firstFailure.isEmpty())
            throw Error(firstFailure);
        throw Error(QStringLiteral("Item not found"));
    }

    if (m_groupFiles) {
        // Current versions keep part of the media in the app-group container, below a folder
        // named like the account's own.
        const QString folder = FRoot.section(QLatin1Char('/'), -2, -2);
        const QString marker = QLatin1Char('/') + folder + QLatin1Char('/');
        for (auto it = m_groupFiles->constBegin(); it != m_groupFiles->constEnd(); ++it) {
            const QString path = QLatin1Char('/') + it.key();
            const qsizetype at = folder.isEmpty() ? -1 : path.indexOf(marker);
            if (at < 0)
                continue;
            const QString relative = path.mid(at + marker.size());
            if (!relative.isEmpty() && !m_groupMedia.contains(relative))
                m_groupMedia.insert(relative, it.value());
        }
    }

    const auto wcdb = std::find_if(m_databases.begin(), m_databases.end(), [](const Database& db) {
        return db.name == QLatin1String("WCDB_Contact.sqlite");
    });
    for (const Database& db : m_databases) {
        if (db.name != QLatin1String("MM.sqlite"))
            continue;
        // A current version's MM.sqlite may hold messages only; its contacts are elsewhere.
        if (wcdb != m_databases.end() && !hasTable(db, QStringLiteral("friend")))
            continue;
        readMmFriends(db);
    }
    if (wcdb != m_databases.end()) {
        // The MM.sqlite contacts read so far stay when this newer list cannot be read.
        try {
            readWcdbContacts(*wcdb);
        } catch (const Error& e) {
            m_warnings.append({wcdb->name, e.message()});
        }
    }
    for (auto& list : m_listed)
        std::stable_sort(list.begin(), list.end(), [](const TFriendInfo* a, const TFriendInfo* b) {
            return chatListLess(a->DisplayName, b->DisplayName);
        });
}

bool TChatSession::hasTable(const Database& database, const QString& name) const
{
    const QSqlDatabase db = QSqlDatabase::database(database.connection, false);
    QSqlQuery query(db);
    query.prepare(QStringLiteral(
        "SELECT count(*) FROM sqlite_master WHERE type='table' AND name = ? COLLATE NOCASE"));
    query.addBindValue(name);
    return query.exec() && query.next() && query.value(0).toLongLong() > 0;
}

void TChatSession::listIfConversation(TFriendInfo* row)
{
    if (!m_chatTables.contains(row->TableName))
        return;
    row->DisplayName = friendDisplayName(row->RemarkName, row->NickName);
    m_listed[size_t(friendClass(row->Type, row->UsrName))].push_back(row);
}

void TChatSession::readMmFriends(const Database& database)
{
    const QSqlDatabase db = QSqlDatabase::database(database.connection, false);
    QSqlQuery query = runQuery(
        db, QStringLiteral("select * from friend where type != 4 and type != 6"), database.path);
    const int cUsrName = column(query, "UsrName", database.path);
    const int cNickName = column(query, "NickName", database.path);
    const int cShortPy = column(query, "ShortPY", database.path);
    const int cType = column(query, "Type", database.path);
    while (query.next()) {
        auto info = std::make_unique<TFriendInfo>();
        info->UsrName = query.value(cUsrName).toString();
        info->NickName = query.value(cNickName).toString();
        const QVariant shortPy = query.value(cShortPy);
        const QByteArray bytes = shortPy.typeId() == QMetaType::QByteArray
                                     ? shortPy.toByteArray()
                                     : shortPy.toString().toUtf8();
        info->RemarkName = decodeRemarkName(bytes);
        if (info->RemarkName == info->NickName)
            info->RemarkName.clear();
        info->Pinyin = info->RemarkName;
        info->Type = query.value(cType).toInt();
        info->TableName = QStringLiteral("Chat_") + mediaFolderName(info->UsrName);
        TFriendInfo* row = info.get();
        m_friends.push_back(std::move(info));
        listIfConversation(row);
        if (!FFriendsList.emplace(row->UsrName, row).second)
            throw Error(QStringLiteral("Duplicates not allowed"));
    }
    if (query.lastError().isValid())
        throw Error(describeSqlError(query.lastError(), database.path));
}

void TChatSession::readWcdbContacts(const Database& database)
{
    const QSqlDatabase db = QSqlDatabase::database(database.connection, false);
    // The table's columns vary between versions: only userName is required.
    QSqlQuery query = runQuery(db, QStringLiteral("select * from Friend"), database.path);
    const int cUserName = column(query, "userName", database.path);
    const int cType = query.record().indexOf(QStringLiteral("type"));
    const int cRemark = query.record().indexOf(QStringLiteral("dbContactRemark"));
    while (query.next()) {
        const int type = cType < 0 ? 0 : query.value(cType).toInt();
        if (type == 4 || type == 6)
            continue;
        const QString usrName = query.value(cUserName).toString();
        if (usrName.isEmpty())
            continue;
        TContactRemark names;
        if (cRemark >= 0) {
            const QVariant blob = query.value(cRemark);
            names = decodeContactRemark(blob.typeId() == QMetaType::QByteArray
                                            ? blob.toByteArray()
                                            : blob.toString().toUtf8());
        }
        // Without a nickname a contact goes by its WeChat ID rather than by no name at all.
        const QString nickName = names.nickName.isEmpty() ? names.alias : names.nickName;
        const auto known = FFriendsList.find(usrName);
        if (known != FFriendsList.end()) {
            // MM.sqlite of an upgraded phone keeps names from before; the newer ones win.
            TFriendInfo* row = known->second;
            if (!nickName.isEmpty())
                row->NickName = nickName;
            if (!names.alias.isEmpty())
                row->Alias = names.alias;
            if (!names.remark.isEmpty())
                row->RemarkName = names.remark;
            if (row->RemarkName == row->NickName)
                row->RemarkName.clear();
            row->Pinyin = row->RemarkName;
            if (!row->DisplayName.isEmpty())
                row->DisplayName = friendDisplayName(row->RemarkName, row->NickName);
            continue;
        }
        auto info = std::make_unique<TFriendInfo>();
        info->UsrName = usrName;
        info->NickName = nickName;
        info->Alias = names.alias;
        info->RemarkName = names.remark == nickName ? QString() : names.remark;
        info->Pinyin = info->RemarkName;
        info->Type = type;
        info->TableName = QStringLiteral("Chat_") + mediaFolderName(usrName);
        TFriendInfo* row = info.get();
        m_friends.push_back(std::move(info));
        listIfConversation(row);
        FFriendsList.emplace(row->UsrName, row);
    }
    if (query.lastError().isValid())
        throw Error(describeSqlError(query.lastError(), database.path));
}

const TFriendInfo* TChatSession::friendInfo(const QString& usrName) const
{
    const auto it = FFriendsList.find(usrName);
    return it == FFriendsList.end() ? nullptr : it->second;
}

std::unique_ptr<TChatConversation> TChatSession::openConversation(const TFriendInfo& f)
{
    std::vector<TChatRow> rows;
    int sources = 0;
    for (const Database& database : m_databases) {
        if (!database.chatTables.contains(f.TableName))
            continue;
        ++sources;
        const QSqlDatabase db = QSqlDatabase::database(database.connection, false);
        if (!db.isOpen())
            throw Error(QStringLiteral("%1 is not open").arg(database.path));
        QSqlQuery count =
            runQuery(db, QStringLiteral("select count(*) from ") + f.TableName, database.path);
        if (count.next())
            rows.reserve(rows.size() + size_t(std::max<qint64>(0, count.value(0).toLongLong())));
        count.finish();
        // Only the columns used: a missing one fails the statement, naming it.
        QSqlQuery query = runQuery(
            db,
            QStringLiteral("select datetime(CreateTime, 'unixepoch', 'localtime'), CreateTime, "
                           "Message, Type, Des, MesLocalID from ") +
                f.TableName,
            database.path);
        const int cTime = 1, cMessage = 2, cType = 3, cDes = 4, cId = 5;
        while (query.next()) {
            bool typeOk = false;
            const qint64 type = query.value(cType).toLongLong(&typeOk);
            // A code outside 32 bits is none WeChat writes; cut to int it would pose as another.
            if (!typeOk || type < INT32_MIN || type > INT32_MAX)
                continue;
            TChatRow row;
            row.type = int(type);
            row.message = query.value(cMessage).toString();
            if (isSkippedMessage(row.type, row.message))
                continue;
            row.date = query.value(0).toString();
            row.createTime = query.value(cTime).toLongLong();
            row.sent = query.value(cDes).toLongLong() == 0;
            row.localId = query.value(cId).toLongLong();
            rows.push_back(std::move(row));
        }
        if (query.lastError().isValid())
            throw Error(describeSqlError(query.lastError(), database.path));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const TChatRow& a, const TChatRow& b) {
        return a.createTime != b.createTime ? a.createTime < b.createTime : a.localId < b.localId;
    });
    if (sources > 1) {
        // A message moved into a shard on upgrade may still stand in MM.sqlite as well.
        const auto same = [](const TChatRow& a, const TChatRow& b) {
            return a.localId == b.localId && a.createTime == b.createTime && a.type == b.type &&
                   a.sent == b.sent && a.message == b.message;
        };
        rows.erase(std::unique(rows.begin(), rows.end(), same), rows.end());
    }
    return std::make_unique<TChatConversation>(*this, f, std::move(rows));
}

bool TChatSession::buildPage(const TFriendInfo& f, const BuildHooks& hooks)
{
    const std::unique_ptr<TChatConversation> conversation = openConversation(f);
    if (!writePage(*conversation, FTempFile, hooks))
        return false;
    m_pageFiles = conversation->files();
    m_pageLinks = conversation->links();
    return true;
}

bool TChatSession::writePage(TChatConversation& conversation, const QString& path,
                             const BuildHooks& hooks)
{
    conversation.setHooks(hooks);
    ChatPageWriter page;
    const int total = conversation.count();
    QElapsedTimer pace;
    pace.start();
    for (int i = 0; i < total; ++i) {
        if (pace.nsecsElapsed() >= kPumpIntervalNs) {
            if (hooks.progress)
                hooks.progress(double(i) / total * 100.0);
            if (hooks.pumpEvents)
                hooks.pumpEvents();
            pace.restart();
        }
        page.addEntry(conversation.entry(i));
    }
    if (hooks.progress)
        hooks.progress(100.0);
    if (page.isEmpty())
        return false;
    page.save(path);
    return true;
}

QString TChatSession::GetRealFileName(const QString& stored) const
{
    return m_reader ? m_reader(stored) : ::GetRealFileName(FBackupPath, stored);
}

QString TChatSession::storedMedia(const QString& relative) const
{
    const auto it = FRecordDict.constFind(FRoot + relative);
    if (it != FRecordDict.constEnd())
        return it.value();
    return m_groupMedia.value(relative);
}

QString TChatSession::resolve(const QString& relative) const
{
    const QString stored = storedMedia(relative);
    if (stored.isEmpty())
        throw Error(QStringLiteral("Item not found"));
    return GetRealFileName(stored);
}

namespace {

// WeChat's own picture format, which no decoder here reads.
bool isWxgf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(4) == "wxgf";
}

} // namespace

TChatSession::ImageMessage TChatSession::PrepareImageMessage(const QString& h, qint64 id)
{
    const QString base = QStringLiteral("Img/") + h + QLatin1Char('/') + QString::number(id);
    const QString thumb = base + QStringLiteral(".pic_thum");
    const QString image = base + QStringLiteral(".pic");
    const QString hd = base + QStringLiteral(".pic_hd");
    const QString big = indexed(hd) ? hd : indexed(image) ? image : thumb;
    const QString small = indexed(thumb) ? thumb : indexed(image) ? image : hd;

    ImageMessage result;
    const QString bigFile = resolve(big);
    const QString smallFile = resolve(small);
    const bool bigWxgf = isWxgf(bigFile);
    const bool smallWxgf = isWxgf(smallFile);
    result.thumbCopy = tempFolder("Image") + QString::number(id) + QStringLiteral(".pic_thum");
    if (bigWxgf && smallWxgf) {
        result.unsupported = true;
        result.imageName = QString::number(id) + QStringLiteral(".wxgf");
        CopyFileReplacing(bigFile, tempFolder("Image") + result.imageName);
        return result;
    }
    // One readable picture stands in for the other.
    CopyFileReplacing(smallWxgf ? bigFile : smallFile, result.thumbCopy);
    result.imageName = QString::number(id) + QStringLiteral(".jpg");
    CopyFileReplacing(bigWxgf ? smallFile : bigFile, tempFolder("Image") + result.imageName);
    return result;
}

TChatSession::VideoMessage TChatSession::PrepareVideoMessage(const QString& h, qint64 id)
{
    const QString base = QStringLiteral("Video/") + h + QLatin1Char('/') + QString::number(id);
    VideoMessage result;
    // Copied beside the page like every other picture: an encrypted backup's thumbnail is
    // decrypted first, and the page reads nothing of the backup itself.
    result.thumbCopy = tempFolder("Video") + QString::number(id) + QStringLiteral(".video_thum");
    CopyFileReplacing(resolve(base + QStringLiteral(".video_thum")), result.thumbCopy);
    result.videoName = QString::number(id) + QStringLiteral(".mp4");
    CopyFileReplacing(resolve(base + QStringLiteral(".mp4")),
                      tempFolder("Video") + result.videoName);
    return result;
}

QString TChatSession::PrepareVoiceMessage(const QString& h, qint64 id,
                                          const std::function<void()>& pumpEvents, bool decode)
{
    const QString src = resolve(QStringLiteral("Audio/") + h + QLatin1Char('/') +
                                QString::number(id) + QStringLiteral(".aud"));
    QFile in(src);
    if (!in.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("cannot open %1: %2").arg(src, in.errorString()));
    const QByteArray head = in.read(32);
    const QString audio = tempFolder("Audio") + QString::number(id);
    if (!isSilkVoice(head)) {
        QFile out(audio + QStringLiteral(".amr"));
        openForWriting(out);
        if (out.write("#!AMR\n", 6) != 6)
            throw Error(
                QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
        appendFile(in, 0, out);
        return QString::number(id) + QStringLiteral(".amr");
    }
    const QString silkPath = audio + QStringLiteral(".silk");
    const QString pcmPath = audio + QStringLiteral(".pcm");
    {
        QFile out(silkPath);
        openForWriting(out);
        appendFile(in, 1, out);
    }
    in.close();
    // A decoding of an earlier copy is not the voice of this one.
    QFile::remove(pcmPath);
    if (decode)
        RunAndWait(silkDecoderCommandLine(silkPath, pcmPath), pumpEvents);
    return QString::number(id) + QStringLiteral(".pcm");
}

void TChatSession::decodeVoice(const QString& playName, const std::function<void()>& pumpEvents)
{
    static const QRegularExpression pcm(QStringLiteral("^-?\\d{1,19}\\.pcm$"));
    if (!pcm.match(playName).hasMatch())
        return;
    const QString base = tempFolder("Audio") + playName.chopped(4);
    const QString pcmPath = base + QStringLiteral(".pcm");
    const QString silkPath = base + QStringLiteral(".silk");
    if (QFile::exists(pcmPath) || !QFile::exists(silkPath))
        return;
    RunAndWait(silkDecoderCommandLine(silkPath, pcmPath), pumpEvents);
}
