#pragma once

#include "chat/FriendInfo.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

// One WeChat account opened for reading: its own read-only connection to MM.sqlite, the
// contacts, and the building of a conversation's page with its media in the temporary folder.
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
    };
    struct ImageMessage
    {
        QString thumbCopy; // full path of the thumbnail's temporary copy
        QString imageName; // file name of the full image's temporary copy
    };
    struct VideoMessage
    {
        QString thumbCopy; // full path of the thumbnail's copy in the Video folder
        QString videoName;   // file name of the video's temporary copy
    };

    // Keeps a reference to recordDict (tree path -> stored name), which must outlive the
    // session. Creates tempPath and its Audio, Image and Video folders; throws when it can't.
    TChatSession(const QString& dbPath, const QHash<QString, QString>& recordDict,
                 const QString& backupPath, const QString& root, const QString& tempPath);
    ~TChatSession();

    // Opens the database and reads the contacts into FFriendsList and the three lists, sorted.
    // Throws on failure; what was read until then stays (the lists unsorted).
    void InitFriends();

    // Rows of the friend table read, listed or not, by UsrName.
    const TFriendInfo* friendInfo(const QString& usrName) const;
    const std::vector<const TFriendInfo*>& listed(TFriendClass c) const
    {
        return m_listed[size_t(c)];
    }

    // Reads the conversation of f, prepares its media and writes FTempFile. Returns false when
    // the conversation has no entry to show (nothing written). Throws on the first failure.
    bool buildPage(const TFriendInfo& f, const BuildHooks& hooks);

    // A readable file for a stored name: by default its stored copy in this session's backup
    // folder; through reader when one is set (an encrypted backup's decrypted copies).
    QString GetRealFileName(const QString& stored) const;
    void setStoredCopyReader(std::function<QString(const QString& stored)> reader)
    {
        m_reader = std::move(reader);
    }
    ImageMessage PrepareImageMessage(const QString& h, qint64 id);
    VideoMessage PrepareVideoMessage(const QString& h, qint64 id);
    // Returns the playable file's name (id.amr or id.pcm) in the Audio folder.
    QString PrepareVoiceMessage(const QString& h, qint64 id,
                                const std::function<void()>& pumpEvents);

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
    bool indexed(const QString& treePath) const { return FRecordDict.contains(treePath); }
    QString resolve(const QString& treePath) const;

    QString FDb;
    QString FRoot;
    QString FBackupPath;
    QString FTempPath;
    QString FTempFile;
    const QHash<QString, QString>& FRecordDict;
    QString m_connectionName;
    std::function<QString(const QString&)> m_reader;
    std::vector<std::unique_ptr<TFriendInfo>> m_friends; // owns every row read
    std::unordered_map<QString, TFriendInfo*> FFriendsList;
    std::array<std::vector<const TFriendInfo*>, 3> m_listed;
    QSet<QString> m_pageFiles;
    QStringList m_pageLinks;
};
