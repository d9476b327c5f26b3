#include "chat/ChatSession.h"

#include "backup/BackupFileManager.h"
#include "chat/ChatMedia.h"
#include "chat/ChatPage.h"
#include "util/Error.h"
#include "util/Sqlite.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>

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
    {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        if (db.isValid())
            db.close();
    }
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::removeDatabase(m_connectionName);
}

void TChatSession::InitFriends()
{
    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
                          ? QSqlDatabase::database(m_connectionName, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    openReadOnlyDatabase(db, FDb);

    QSqlQuery query =
        runQuery(db, QStringLiteral("select * from friend where type != 4 and type != 6"), FDb);
    const int cUsrName = column(query, "UsrName", FDb);
    const int cNickName = column(query, "NickName", FDb);
    const int cShortPy = column(query, "ShortPY", FDb);
    const int cType = column(query, "Type", FDb);
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

        QSqlQuery check = runQuery(
            db,
            QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type='table' AND name='%1'")
                .arg(info->TableName),
            FDb);
        TFriendInfo* row = info.get();
        m_friends.push_back(std::move(info));
        if (check.next() && check.value(0).toLongLong() == 1) {
            row->DisplayName = friendDisplayName(row->RemarkName, row->NickName);
            m_listed[size_t(friendClass(row->Type, row->UsrName))].push_back(row);
        }
        if (!FFriendsList.emplace(row->UsrName, row).second)
            throw Error(QStringLiteral("Duplicates not allowed"));
    }
    if (query.lastError().isValid())
        throw Error(describeSqlError(query.lastError(), FDb));
    for (auto& list : m_listed)
        std::stable_sort(list.begin(), list.end(), [](const TFriendInfo* a, const TFriendInfo* b) {
            return chatListLess(a->DisplayName, b->DisplayName);
        });
}

const TFriendInfo* TChatSession::friendInfo(const QString& usrName) const
{
    const auto it = FFriendsList.find(usrName);
    return it == FFriendsList.end() ? nullptr : it->second;
}

bool TChatSession::buildPage(const TFriendInfo& f, const BuildHooks& hooks)
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    if (!db.isOpen())
        throw Error(QStringLiteral("%1 is not open").arg(FDb));
    const QString h = f.mediaFolderName();
    const bool group = f.UsrName.contains(QLatin1String("@chatroom"));

    QSqlQuery count = runQuery(db, QStringLiteral("select count(*) from ") + f.TableName, FDb);
    const double total = count.next() ? count.value(0).toDouble() : 0;
    count.finish();

    QSqlQuery query = runQuery(
        db,
        QStringLiteral("select datetime(createtime, 'unixepoch', 'localtime') as date,* from ") +
            f.TableName + QStringLiteral(" order by CreateTime asc"),
        FDb);
    const int cMessage = column(query, "Message", FDb);
    const int cType = column(query, "Type", FDb);
    const int cDes = column(query, "Des", FDb);
    const int cId = column(query, "MesLocalId", FDb);

    const QString ownGroupName = QStringLiteral("我  ");
    const QString system = QStringLiteral("系统提示");
    const QString oneToOneName = htmlEscape(f.DisplayName);
    ChatPageWriter page;
    qint64 n = 0;
    QElapsedTimer pace;
    pace.start();
    std::vector<QString> pageFiles;
    std::vector<QString> pageLinks;
    while (query.next()) {
        const QString date = query.value(0).toString();
        const QString raw = query.value(cMessage).toString();
        bool typeOk = false;
        const qint64 type = query.value(cType).toLongLong(&typeOk);
        // A code outside 32 bits is none WeChat writes; cut to int it would pose as another type.
        const bool known = typeOk && type >= INT32_MIN && type <= INT32_MAX;
        if (!known) {
            ++n;
            continue;
        }
        const int t = int(type);
        const bool sent = query.value(cDes).toLongLong() == 0;
        const qint64 id = query.value(cId).toLongLong();

        // Whether c is the message's own text (escaped), so that a group sender's id heads it.
        bool text = false;
        QString c;
        bool skip = false;
        switch (t) {
        case 1:
            if (raw.startsWith(QLatin1String("<mmreader>"))) {
                skip = true;
            } else {
                text = true;
                c = htmlEscape(raw);
            }
            break;
        case 3: {
            const ImageMessage image = PrepareImageMessage(h, id);
            c = imageMessageHtml(image.thumbCopy, image.imageName);
            pageFiles.push_back(image.thumbCopy);
            break;
        }
        case 34: {
            const QString playName = PrepareVoiceMessage(h, id, hooks.pumpEvents);
            std::optional<int> seconds;
            try {
                seconds = voiceSeconds(raw);
            } catch (const Error& e) {
                // The voice still plays; only its length label is unknown.
                if (hooks.showMessage)
                    hooks.showMessage(
                        QStringLiteral("Unreadable voice message %1: %2").arg(id).arg(e.message()));
            }
            c = voiceMessageHtml(sent, seconds, playName);
            break;
        }
        case 42:
        case 47:
        case 48:
            skip = true;
            break;
        case 43:
        case 62: {
            const VideoMessage video = PrepareVideoMessage(h, id);
            c = videoMessageHtml(video.thumbCopy, video.videoName);
            pageFiles.push_back(video.thumbCopy);
            break;
        }
        case 49: {
            QString address;
            c = sharedLinkHtml(raw, hooks.showMessage, &address);
            if (!address.isEmpty())
                pageLinks.push_back(address);
            break;
        }
        case 50:
            c = callHtml(raw, hooks.showMessage);
            break;
        default:
            text = true;
            c = htmlEscape(raw);
        }
        ++n;
        if (skip)
            continue;
        if (pace.nsecsElapsed() >= kPumpIntervalNs) {
            if (hooks.progress)
                hooks.progress(total > 0 ? n / total * 100.0 : 100.0);
            if (hooks.pumpEvents)
                hooks.pumpEvents();
            pace.restart();
        }

        QString header;
        if (sent) {
            header = group ? ownGroupName + date : date;
        } else {
            QString who = oneToOneName;
            if (group) {
                const qsizetype colon = raw.indexOf(QLatin1Char(':'));
                QString s = colon < 0 ? QString() : raw.left(colon);
                if (s.isEmpty())
                    s = system;
                QString name = s;
                if (const TFriendInfo* sender = friendInfo(s))
                    name = trimControls(sender->RemarkName).isEmpty() ? sender->NickName
                                                                      : sender->RemarkName;
                who = htmlEscape(name);
                // The name takes the id's place at the head of the text only: replaced across
                // the entry, an id like "src" would rewrite the page's own tags.
                if (text && colon > 0)
                    c = who + htmlEscape(raw.mid(colon));
            }
            header = who + QStringLiteral("  ") + date;
        }
        page.addEntry(messageEntry(sent, t, header, c));
    }
    if (query.lastError().isValid())
        throw Error(describeSqlError(query.lastError(), FDb));
    if (hooks.progress)
        hooks.progress(100.0);
    if (page.isEmpty())
        return false;
    page.save(FTempFile);
    m_pageFiles.clear();
    for (const QString& file : pageFiles)
        m_pageFiles.insert(QDir::cleanPath(file));
    m_pageLinks = QStringList(pageLinks.begin(), pageLinks.end());
    return true;
}

QString TChatSession::GetRealFileName(const QString& stored) const
{
    return m_reader ? m_reader(stored) : ::GetRealFileName(FBackupPath, stored);
}

QString TChatSession::resolve(const QString& treePath) const
{
    const auto it = FRecordDict.constFind(treePath);
    if (it == FRecordDict.constEnd())
        throw Error(QStringLiteral("Item not found"));
    return GetRealFileName(it.value());
}

TChatSession::ImageMessage TChatSession::PrepareImageMessage(const QString& h, qint64 id)
{
    const QString base =
        FRoot + QStringLiteral("Img/") + h + QLatin1Char('/') + QString::number(id);
    const QString thumb = base + QStringLiteral(".pic_thum");
    const QString image = base + QStringLiteral(".pic");
    const QString hd = base + QStringLiteral(".pic_hd");
    const QString big = indexed(hd) ? hd : indexed(image) ? image : thumb;
    const QString small = indexed(thumb) ? thumb : indexed(image) ? image : hd;

    ImageMessage result;
    result.thumbCopy = tempFolder("Image") + QString::number(id) + QStringLiteral(".pic_thum");
    CopyFileReplacing(resolve(small), result.thumbCopy);
    result.imageName = QString::number(id) + QStringLiteral(".jpg");
    CopyFileReplacing(resolve(big), tempFolder("Image") + result.imageName);
    return result;
}

TChatSession::VideoMessage TChatSession::PrepareVideoMessage(const QString& h, qint64 id)
{
    const QString base =
        FRoot + QStringLiteral("Video/") + h + QLatin1Char('/') + QString::number(id);
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
                                          const std::function<void()>& pumpEvents)
{
    const QString src = resolve(FRoot + QStringLiteral("Audio/") + h + QLatin1Char('/') +
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
    RunAndWait(silkDecoderCommandLine(silkPath, pcmPath), pumpEvents);
    return QString::number(id) + QStringLiteral(".pcm");
}
