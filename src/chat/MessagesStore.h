#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

// The phone's Messages database (HomeDomain Library/SMS/sms.db) read into conversations and
// their messages, for the schema of iOS 5 (msg_group, msg_pieces, Unix-second dates) and the one
// of iOS 6 to 18 (chat, message, handle; seconds since 2001 before iOS 11, nanoseconds since).
// Every column is probed; what a schema lacks stays empty. Opens only a readable copy
// (TStoredCopies::readableDatabase), read-only, on a connection of its own. GUI thread or any
// one thread at a time.

// A file sent with a message. The phone names it by a path under its home folder; the backup
// keeps it, when it has it, as an entry of MediaDomain.
struct TMessageAttachment
{
    QString name;     // the name to show and save under: transfer_name, else filename's last part
    QString mimeType; // may be empty
    QString uti;      // may be empty
    QString domain;   // the catalog domain the file would be in ("MediaDomain"); empty: no path
    QString path;     // its relative path in that domain ("~/" or "/var/mobile/" stripped)
    qint64 totalBytes = 0;
};

// A tapback on a message: associated_message_type 2000 (loved) to 2006 (emoji).
struct TMessageReaction
{
    int type = 0;
    bool fromMe = false;
    QString sender; // handle id (number or address) of someone else's reaction
    QString emoji;  // type 2006 only, when the database holds it
};

struct TMessage
{
    qint64 rowId = 0;
    QString guid;
    qint64 dateMs = 0; // Unix milliseconds, UTC; 0 when the database holds no date
    bool fromMe = false;
    QString sender;  // handle id of an incoming message; empty when it has none
    QString service; // "iMessage", "SMS", ... as stored; may be empty
    QString text;    // from text, else attributedBody; U+FFFC where an attachment sits
    bool edited = false; // date_edited set
    bool unsent = false; // date_retracted set (no text left)
    // Non-zero: a group event (member added or removed, name changed, ...), not a message.
    int itemType = 0;
    int groupActionType = 0; // its group_action_type, when the database has that column
    QString groupTitle;      // its group_title: the new name of a renamed group
    QString otherHandle;     // the member an add/remove event names (handle id), when known
    std::vector<TMessageAttachment> attachments; // in the order the message holds them
    std::vector<TMessageReaction> reactions;     // reactions that still stand, oldest first
};

struct TConversation
{
    qint64 id = 0;        // chat ROWID (iOS 6+) or msg_group ROWID (iOS 5)
    QString displayName;  // the group's name (chat.display_name); may be empty
    QString identifier;   // chat_identifier: the number, address or group id
    QStringList members;  // handle ids of the other members, in handle order
    bool isGroup = false; // chat.style 43, or more than one member
    QString service;      // service_name as stored; may be empty
    qint64 lastDateMs = 0;
    int messageCount = 0; // messages and group events; reactions not counted
};

class TMessagesStore final
{
public:
    enum class Schema
    {
        Ios5,
        Ios6
    };

    // Opens the database at path read-only (immutable when it lies in a backup folder, as
    // util/Sqlite's readOnlyUri decides). Throws Error when it cannot be opened or is no
    // Messages database.
    explicit TMessagesStore(const QString& path);
    ~TMessagesStore();
    TMessagesStore(const TMessagesStore&) = delete;
    TMessagesStore& operator=(const TMessagesStore&) = delete;

    Schema schema() const;

    // Every conversation with at least one message or event, newest first (by lastDateMs, then
    // by id descending). Throws Error on a failed statement.
    std::vector<TConversation> conversations() const;

    // The messages and group events of one conversation, oldest first (date, then ROWID).
    // Reaction rows are not listed: each is attached to the message it reacts to (a removal,
    // 3000 to 3005, takes back the same person's earlier reaction of that kind); a reaction
    // whose target is not in the conversation is dropped. Throws Error on a failed statement.
    std::vector<TMessage> messages(qint64 conversationId) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// A stored message date in Unix milliseconds, UTC; 0 for 0 (no date). iOS 6 and later: above
// 1e11 (in magnitude) a count of nanoseconds since 2001, else of seconds since 2001, decided
// per value; iOS 5: Unix seconds.
qint64 messageDateMs(qint64 stored, TMessagesStore::Schema schema);

// Names from the phone's address book (HomeDomain Library/AddressBook/AddressBook.sqlitedb) for
// the numbers and addresses Messages shows.
class TContactNames final
{
public:
    TContactNames();
    // Reads the address book at path read-only. Throws Error when it cannot be read.
    explicit TContactNames(const QString& path);
    ~TContactNames();
    TContactNames(TContactNames&&) noexcept;
    TContactNames& operator=(TContactNames&&) noexcept;

    // The person's name ("First Last", else organization, else nickname) for a phone number or
    // e-mail address; empty when the address book has none. E-mail addresses compare without
    // regard to case. Phone numbers compare by their digits only: the last nine digits when
    // both have at least nine, else the last min(both lengths) digits when both have at least
    // seven; shorter numbers (short codes) only when all their digits are equal.
    QString nameOf(const QString& address) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The title of a conversation in the list: the group's name; else the members' names (each
// from names, else the handle id), joined with ", "; else the identifier.
QString conversationTitle(const TConversation& conversation, const TContactNames& names);
