#pragma once

#include "SampleBackup.h"
#include "WechatData.h"
#include "backup/BackupFileManager.h"

#include <QCryptographicHash>
#include <QHash>
#include <QTemporaryDir>

// A written sample backup indexed the way the main window indexes a catalog: tree path ->
// stored name (first wins), and the last WeChat account database with its root.
struct ChatFixture
{
    QTemporaryDir dir;
    QString backupPath;
    QString tempPath;
    QHash<QString, QString> recordDict;
    QString dbPath;
    QString root;

    explicit ChatFixture(const SampleBackup& backup)
    {
        backupPath = dir.filePath(QStringLiteral("backup"));
        tempPath = dir.filePath(QStringLiteral("tmp"));
        backup.write(backupPath);
        for (const SampleBackup::Entry& e : backup.entries()) {
            const QString tree =
                e.domain.startsWith(QLatin1String("AppDomain-"))
                    ? QStringLiteral("Applications/") + e.domain.mid(10) + QLatin1Char('/') + e.path
                    : e.path;
            const QString key = SampleBackup::keyOf(e);
            if (tree.startsWith(QLatin1String("Applications/com.tencent.xin")) &&
                tree.contains(QLatin1String("MM.sqlite"))) {
                dbPath = GetRealFileName(backupPath, key);
                root = QString(tree).remove(QStringLiteral("DB/MM.sqlite"));
            }
            if (!recordDict.contains(tree))
                recordDict.insert(tree, key);
        }
    }
};

inline QString md5Hex(const QString& text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

inline const QString kAccount = QStringLiteral("acct0123456789abcdef0123456789ab");

// Catalog path of a media file of the test account.
inline QString mediaPath(const char* kind, const QString& usrName, qint64 id, const char* suffix)
{
    return QStringLiteral("Documents/%1/%2/%3/%4%5")
        .arg(kAccount, QLatin1String(kind), md5Hex(usrName), QString::number(id),
             QLatin1String(suffix));
}

// A backup holding one account with db and the given media files (catalog path -> bytes).
inline SampleBackup accountBackup(const wechat::Database& db,
                                  const QList<QPair<QString, QByteArray>>& media = {})
{
    SampleBackup backup;
    const QString domain = QLatin1String(wechat::kDomain);
    backup.addFile(domain, QStringLiteral("Documents/%1/DB/MM.sqlite").arg(kAccount), db.bytes());
    for (const auto& [path, bytes] : media)
        backup.addFile(domain, path, bytes);
    return backup;
}
