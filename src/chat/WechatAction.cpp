#include "chat/WechatAction.h"

#include "app/Application.h"
#include "backup/BackupFileManager.h"
#include "chat/FormChat.h"
#include "chat/FormChatList.h"
#include "chat/WechatAccount.h"
#include "media/FormImage.h"
#include "media/FormVideo.h"

void actWechatExecute(QWidget* parent, const QStringList& FWechatDbs,
                      const QStringList& FWechatRoots, QString& FWechatDbFile, QString& FWechatRoot,
                      const QHash<QString, QString>& FRecordDict, const QString& backupPath)
{
    if (FWechatDbs.size() != 1) {
        QStringList dbPaths;
        for (const QString& key : FWechatDbs)
            dbPaths << GetRealFileName(backupPath, key);
        const int i = ShowChatListForm(wechatAccountNames(dbPaths, FWechatRoots), parent);
        if (i < 0 || i >= FWechatDbs.size() || i >= FWechatRoots.size())
            return;
        FWechatDbFile = FWechatDbs.at(i);
        FWechatRoot = FWechatRoots.at(i);
    }
    ShowChatForm(GetRealFileName(backupPath, FWechatDbFile), FRecordDict, backupPath, FWechatRoot,
                 parent, [](TFormChat& form) {
                     // Called from the view's navigation hook: failures stop here, in a box.
                     form.openImage = [&form](const TExportFile& file) {
                         guarded([&] { ShowImageForm(file, &form); })();
                     };
                     form.openVideo = [&form](const TExportFile& file) {
                         guarded([&] { ShowVideoForm(file, &form); })();
                     };
                 });
}
