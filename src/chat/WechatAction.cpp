#include "chat/WechatAction.h"

#include "backup/BackupFileManager.h"
#include "chat/FormChat.h"
#include "chat/FormChatList.h"

void actWechatExecute(QWidget* parent, const QStringList& FWechatDbs,
                      const QStringList& FWechatRoots, QString& FWechatDbFile, QString& FWechatRoot,
                      const QHash<QString, QString>& FRecordDict, const QString& backupPath)
{
    if (FWechatDbs.size() != 1) {
        const int i = ShowChatListForm(int(FWechatDbs.size()), parent);
        if (i < 0 || i >= FWechatDbs.size() || i >= FWechatRoots.size())
            return;
        FWechatDbFile = FWechatDbs.at(i);
        FWechatRoot = FWechatRoots.at(i);
    }
    ShowChatForm(GetRealFileName(backupPath, FWechatDbFile), FRecordDict, backupPath, FWechatRoot,
                 parent);
}
