#include "chat/WechatAccount.h"

#include "chat/FriendInfo.h"
#include "util/Error.h"
#include "util/Sqlite.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

QString folderOf(const QString& root)
{
    return root.section(QLatin1Char('/'), -2, -2);
}

// A nickname comes from the backup: no line breaks or control characters in a one-line entry,
// and no name long enough to push the chooser's width around.
QString plainName(const QString& text)
{
    constexpr qsizetype kMaxLength = 64;
    QString name;
    name.reserve(text.size());
    for (const QChar c : text)
        name.append(c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
                            c.category() == QChar::Separator_Line ||
                            c.category() == QChar::Separator_Paragraph
                        ? QChar(u' ')
                        : c);
    name = name.simplified();
    if (name.size() > kMaxLength)
        name = name.left(kMaxLength - 1) + QChar(u'…');
    return name;
}

QString ownNickname(const QString& dbPath, const QString& folder)
{
    static int counter = 0;
    const QString connection = QStringLiteral("ferrowick-wechat-account-%1").arg(++counter);
    QString nickname;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        try {
            openReadOnlyDatabase(db, dbPath);
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (query.exec(QStringLiteral("SELECT UsrName, NickName FROM friend"))) {
                while (query.next()) {
                    if (mediaFolderName(query.value(0).toString()) == folder) {
                        nickname = plainName(query.value(1).toString());
                        break;
                    }
                }
            } else if (query.exec(QStringLiteral("SELECT userName, dbContactRemark FROM Friend"))) {
                // WCDB_Contact.sqlite of current versions: the names are a protobuf blob.
                while (query.next()) {
                    if (mediaFolderName(query.value(0).toString()) == folder) {
                        nickname = plainName(decodeContactRemark(query.value(1).toByteArray()).nickName);
                        break;
                    }
                }
            }
        } catch (const Error&) {
            // An unreadable database still is an account; it goes by its folder.
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    return nickname;
}

} // namespace

QString wechatAccountName(const QString& dbPath, const QString& root, const QString& contactsPath)
{
    const QString folder = folderOf(root);
    QString nickname = ownNickname(dbPath, folder.toLower());
    if (nickname.isEmpty() && !contactsPath.isEmpty() && contactsPath != dbPath)
        nickname = ownNickname(contactsPath, folder.toLower());
    return nickname.isEmpty() ? folder : nickname;
}

QStringList wechatAccountNames(const QStringList& dbPaths, const QStringList& roots,
                               const QStringList& contactPaths)
{
    QStringList names;
    for (qsizetype i = 0; i < dbPaths.size() && i < roots.size(); ++i)
        names << wechatAccountName(dbPaths.at(i), roots.at(i), contactPaths.value(i));
    for (qsizetype i = 0; i < names.size(); ++i) {
        if (names.count(names.at(i)) < 2)
            continue;
        const QString shared = names.at(i);
        for (qsizetype k = i; k < names.size(); ++k) {
            if (names.at(k) == shared && folderOf(roots.at(k)) != shared)
                names[k] = QStringLiteral("%1 (%2)").arg(shared, folderOf(roots.at(k)));
        }
    }
    return names;
}
