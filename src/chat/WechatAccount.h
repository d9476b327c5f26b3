#pragma once

#include <QString>
#include <QStringList>

// The name an account goes by in the chooser: the owner's own nickname, read from the friend
// row of MM.sqlite whose UsrName has the account folder's name as its MD5 (WeChat names the
// folder so); the folder name when there is no such row or the database cannot be read.
// dbPath is a readable copy of the account's MM.sqlite (or, for an account of a current
// version without one, of its WCDB_Contact.sqlite), root its tree path ending in "/".
// When dbPath names no owner, contactsPath (a readable WCDB_Contact.sqlite, may be empty) is
// asked next.
QString wechatAccountName(const QString& dbPath, const QString& root,
                          const QString& contactsPath = {});

// The names of several accounts, entry k for dbPaths[k] and roots[k] (and contactPaths[k] when
// given). Accounts that would share a name carry their folder name after it, so every entry
// can be told apart.
QStringList wechatAccountNames(const QStringList& dbPaths, const QStringList& roots,
                               const QStringList& contactPaths = {});
