#include "chat/WechatAction.h"

#include "app/Application.h"
#include "backup/StoredCopies.h"
#include "chat/FormChat.h"
#include "chat/FormChatList.h"
#include "chat/WechatAccount.h"
#include "media/FormImage.h"
#include "media/FormVideo.h"
#include "util/Error.h"

void actWechatExecute(QWidget* parent, const QStringList& FWechatDbs,
                      const QStringList& FWechatRoots, QString& FWechatDbFile, QString& FWechatRoot,
                      const QHash<QString, QString>& FRecordDict, TStoredCopies& copies,
                      const QHash<QString, QString>* groupFiles)
{
    if (FWechatDbs.size() != 1) {
        QStringList dbPaths, contactPaths;
        for (qsizetype k = 0; k < FWechatDbs.size(); ++k) {
            const QString& key = FWechatDbs.at(k);
            // An account whose database cannot be read is still listed, by its folder.
            try {
                dbPaths << copies.readableDatabase(key);
            } catch (const Error&) {
                dbPaths << copies.storedPath(key);
            }
            // Current versions name the owner in WCDB_Contact.sqlite only.
            const QString contacts = FRecordDict.value(
                FWechatRoots.value(k) + QStringLiteral("DB/WCDB_Contact.sqlite"));
            QString contactsPath;
            if (!contacts.isEmpty() && contacts != key) {
                try {
                    contactsPath = copies.readableDatabase(contacts);
                } catch (const Error&) {
                }
            }
            contactPaths << contactsPath;
        }
        const int i =
            ShowChatListForm(wechatAccountNames(dbPaths, FWechatRoots, contactPaths), parent);
        if (i < 0 || i >= FWechatDbs.size() || i >= FWechatRoots.size())
            return;
        FWechatDbFile = FWechatDbs.at(i);
        FWechatRoot = FWechatRoots.at(i);
    }
    // An account of a current version may have no MM.sqlite; its other databases are found by
    // the window in its DB folder.
    const bool mm = FRecordDict.value(FWechatRoot + QStringLiteral("DB/MM.sqlite")) == FWechatDbFile;
    ShowChatForm(mm ? copies.readableDatabase(FWechatDbFile) : QString(), FRecordDict,
                 copies.backupPath(), FWechatRoot, parent, [&copies, groupFiles](TFormChat& form) {
                     form.setStoredCopyReader(
                         [&copies](const QString& Key) { return copies.readable(Key); });
                     form.setDatabaseReader(
                         [&copies](const QString& Key) { return copies.readableDatabase(Key); });
                     form.setGroupFiles(groupFiles);
                     // Called from the view's navigation hook: failures stop here, in a box.
                     form.openImage = [&form](const TExportFile& file) {
                         guarded([&] { ShowImageForm(file, &form); })();
                     };
                     form.openVideo = [&form](const TExportFile& file) {
                         guarded([&] { ShowVideoForm(file, &form); })();
                     };
                 });
}
