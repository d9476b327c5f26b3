#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

class QWidget;
class TStoredCopies;

// What the main window's Wechat action does: with one account database the chat window opens
// on the current one; with more the chooser asks first, and the choice becomes current
// (FWechatDbFile, FWechatRoot) for the next press. Cancel changes nothing. The account's
// databases and media are read through copies; groupFiles (the app-group container's files,
// path -> Key) hold part of the media of current versions.
void actWechatExecute(QWidget* parent, const QStringList& FWechatDbs,
                      const QStringList& FWechatRoots, QString& FWechatDbFile, QString& FWechatRoot,
                      const QHash<QString, QString>& FRecordDict, TStoredCopies& copies,
                      const QHash<QString, QString>* groupFiles = nullptr);
