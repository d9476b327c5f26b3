#pragma once

#include <QByteArray>
#include <QString>

// One WeChat contact, group chat or official account, as read from MM.sqlite's friend table
// or WCDB_Contact.sqlite's Friend table.
struct TFriendInfo
{
    QString UsrName;    // WeChat id; "@chatroom" marks groups, "gh_" official accounts
    QString NickName;   // for a group, its name
    QString Alias;      // the self-chosen WeChat ID (WCDB_Contact.sqlite only)
    QString RemarkName; // the owner's name for the contact; empty when none or equal to NickName
    QString Pinyin;     // copy of RemarkName
    QString DisplayName;
    QString TableName; // "Chat_" + MediaFolderName
    int Type = 0;

    // The 32 hex digits of the conversation's table and media folders.
    QString mediaFolderName() const { return TableName.mid(5); }
};

// The list a contact is shown in.
enum class TFriendClass
{
    fcFriends,
    fcGroups,
    fcOthers
};

// Lowercase hex MD5 of the id's UTF-8 bytes.
QString mediaFolderName(const QString& usrName);

// The remark name held in a ShortPY value: tag 0x0A, a length byte (not trusted), the UTF-8
// bytes, then tag 0x12. Empty when there is none.
QString decodeRemarkName(const QByteArray& shortPy);

// The names in a WCDB_Contact.sqlite dbContactRemark value, a protocol-buffer message: field 1
// nickname, 2 alias, 3 remark. Missing or malformed fields read as empty.
struct TContactRemark
{
    QString nickName;
    QString alias;
    QString remark;
};
TContactRemark decodeContactRemark(const QByteArray& blob);

// Friends by default; type 2 groups, 4/6/67 others; "gh_" others and "@chatroom" groups win.
TFriendClass friendClass(int type, const QString& usrName);

// "Remark(Nick)" or Nick; a remark holding "<2></2>" means Nick; a blank name "未命名聊天群".
QString friendDisplayName(const QString& remarkName, const QString& nickName);

// Strips characters at or below U+0020 from both ends.
QString trimControls(const QString& text);

// The contact lists' order: ASCII letters without regard to case, everything else by UTF-16
// code unit, a prefix before the longer text.
bool chatListLess(const QString& a, const QString& b);
