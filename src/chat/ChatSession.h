#pragma once

#include "chat/FriendInfo.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class TChatConversation;

// One WeChat account opened for reading: read-only connections to every database of its DB
// folder (MM.sqlite of old versions; WCDB_Contact.sqlite and the message_N.sqlite shards of
// current ones), the contacts of all of them, the conversations merged over them, and the
// building of a conversation's page with its media in the temporary folder.
// Everything here runs on the GUI thread; the window supplies the hooks that keep it live.
class TChatSession final
{
    Q_DISABLE_COPY_MOVE(TChatSession)

public:
    struct BuildHooks
    {
        std::function<void(double)> progress;            // percent of the rows processed
        std::function<void()> pumpEvents;                // let the window handle its events
        std::function<void(const QString&)> showMessage; // an unreadable payload; the build goes on
        // SILK voice is decoded when it is played (decodeVoice), not with its entry: the view
        // shows a page of voice messages at once.
        bool decodeVoiceOnPlay = false;
    };
    struct ImageMessage
    {
        QString thumbCopy; // full path of the thumbnail's temporary copy
        QString imageName; // file name of the full image's temporary copy
        // Both pictures are in WeChat's own "wxgf" format, which nothing here decodes: the
        // page offers to save imageName (named id.wxgf) instead of showing it.
        bool unsupported = false;
    };
    struct VideoMessage
    {
        QString thumbCopy; // full path of the thumbnail's copy in the Video folder
        QString videoName;   // file name of the video's temporary copy
    };

    // Keeps a reference to recordDict (tree path -> stored name), which must outlive the
    // session. dbPath is a readable copy of the account's MM.sqlite, or empty when the account
    // has none; the other databases of root's DB folder are found in recordDict. Creates
    // tempPath and its Audio, Image and Video folders; throws when it can't.
    TChatSession(const QString& dbPath, const QHash<QString, QString>& recordDict,
                 const QString& backupPath, const QString& root, const QString& tempPath);
    ~TChatSession();

    // How the databases other than dbPath are made readable, from their stored names (by
    // default their stored copies in the backup folder). Set before InitFriends.
    void setDatabaseReader(std::function<QString(const QString& stored)> reader)
    {
        m_databaseReader = std::move(reader);
    }
    // The app-group container's files (catalog path -> stored name), where current versions
    // keep part of an account's media under a folder of the account's name. Borrowed; set
    // before InitFriends.
    void setGroupFiles(const QHash<QString, QString>* groupFiles) { m_groupFiles = groupFiles; }

    // Opens the databases and reads the contacts into FFriendsList and the three lists,
    // sorted: MM.sqlite's friend table, then WCDB_Contact.sqlite's Friend table, a contact in
    // both taking the newer names of the latter. A contact is listed when a Chat_ table of its
    // name exists in any of the databases. Throws on failure (dbPath unreadable, a duplicate
    // in MM.sqlite, or its friend table unreadable when it is the only list of contacts); what
    // was read until then stays (the lists unsorted). Another database that cannot be read,
    // or a WCDB_Contact.sqlite whose contacts cannot be read, is left out and named in
    // warnings().
    void InitFriends();
    // The databases left out by InitFriends: file name and the reason.
    const QList<QPair<QString, QString>>& warnings() const { return m_warnings; }
    // The file names of the databases read, in reading order.
    QStringList databaseNames() const;

    // Rows of the friend table read, listed or not, by UsrName.
    const TFriendInfo* friendInfo(const QString& usrName) const;
    const std::vector<const TFriendInfo*>& listed(TFriendClass c) const
    {
        return m_listed[size_t(c)];
    }

    // Reads every row of f's conversation from every database holding its table, merged and
    // ordered by CreateTime, then MesLocalID; no media work. Throws an Error on a failed query.
    std::unique_ptr<TChatConversation> openConversation(const TFriendInfo& f);

    // Reads the conversation of f, prepares its media and writes FTempFile. Returns false when
    // the conversation has no entry to show (nothing written). Throws on the first failure.
    bool buildPage(const TFriendInfo& f, const BuildHooks& hooks);
    // Writes the page of all of conversation's entries to path, preparing their media.
    // Returns false, writing nothing, when it has no entry.
    bool writePage(TChatConversation& conversation, const QString& path,
                   const BuildHooks& hooks);

    // A readable file for a stored name: by default its stored copy in this session's backup
    // folder; through reader when one is set (an encrypted backup's decrypted copies).
    QString GetRealFileName(const QString& stored) const;
    void setStoredCopyReader(std::function<QString(const QString& stored)> reader)
    {
        m_reader = std::move(reader);
    }
    ImageMessage PrepareImageMessage(const QString& h, qint64 id);
    VideoMessage PrepareVideoMessage(const QString& h, qint64 id);
    // Returns the playable file's name (id.amr or id.pcm) in the Audio folder. Without decode,
    // a SILK voice is only copied beside it (id.silk), for decodeVoice.
    QString PrepareVoiceMessage(const QString& h, qint64 id,
                                const std::function<void()>& pumpEvents, bool decode = true);
    // Decodes the SILK copy behind the play name playName (id.pcm) when that has not been
    // done; nothing for other names. The decoder's failure leaves no playable file, as when
    // the page was built.
    void decodeVoice(const QString& playName, const std::function<void()>& pumpEvents);

    // The local files the last written page shows (thumbnails), cleaned paths: all the page
    // itself may load besides its own file.
    const QSet<QString>& pageFiles() const { return m_pageFiles; }
    // The addresses of the shared links on the last written page, as they were written.
    const QStringList& pageLinks() const { return m_pageLinks; }

    const QString& tempPath() const { return FTempPath; }
    const QString& tempFile() const { return FTempFile; }
    QString tempFolder(const char* name) const
    {
        return FTempPath + QLatin1String(name) + QLatin1Char('/');
    }

private:
    struct Database
    {
        QString name;       // file name in the DB folder
        QString path;       // readable copy
        QString connection;
        QSet<QString> chatTables;
    };

    // A media file of the account, by its path below the account folder: in the account folder
    // itself, else in the app-group container. Empty when neither holds it.
    QString storedMedia(const QString& relative) const;
    bool indexed(const QString& relative) const { return !storedMedia(relative).isEmpty(); }
    QString resolve(const QString& relative) const;
    void openDatabase(const QString& name, const QString& path);
    void readMmFriends(const Database& db);
    void readWcdbContacts(const Database& db);
    void listIfConversation(TFriendInfo* row);
    bool hasTable(const Database& database, const QString& name) const;

    QString FDb;
    QString FRoot;
    QString FBackupPath;
    QString FTempPath;
    QString FTempFile;
    const QHash<QString, QString>& FRecordDict;
    QString m_connectionName;
    std::function<QString(const QString&)> m_reader;
    std::function<QString(const QString&)> m_databaseReader;
    const QHash<QString, QString>* m_groupFiles = nullptr;
    QHash<QString, QString> m_groupMedia; // path below the account's group folder -> stored name
    std::vector<Database> m_databases;
    QSet<QString> m_chatTables; // of all databases
    QList<QPair<QString, QString>> m_warnings;
    std::vector<std::unique_ptr<TFriendInfo>> m_friends; // owns every row read
    std::unordered_map<QString, TFriendInfo*> FFriendsList;
    std::array<std::vector<const TFriendInfo*>, 3> m_listed;
    QSet<QString> m_pageFiles;
    QStringList m_pageLinks;
};
