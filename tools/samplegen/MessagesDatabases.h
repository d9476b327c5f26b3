#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

class SampleBackup;

// The phone's Messages database (HomeDomain Library/SMS/sms.db) in three eras, with the files
// its messages were sent with as MediaDomain entries.
//
// Ios17 (nanosecond dates, text NULL on some rows with the text only in attributedBody):
//   chat 1, SMS with "13800138000" (the address book's "+8613800138000"): texts, an edited
//     message, a HEIC and a JPEG picture, a love reaction from the other side;
//   chat 2, iMessage with "+49301234567" (the address book's "+49 30 1234567"): a video, an
//     audio message (.caf), a PDF, an unsent message, and a picture missing from the backup;
//   chat 3, group "<script>alert('name')</script> Family" (13800138000, +49301234567,
//     +14155550123): a member added, the group renamed, reactions (one taken back, one from
//     me, one aimed at a message of another chat), a "<script>" text;
//   chat 4, group without a name (ZOE.MUELLER@example.de, +14155550123);
//   chat 5, SMS with "+14155550123", who is in no address book;
//   chat 6, a chat without any message.
// Ios10 (second dates, text always in `text`): chats 1 to 4 of the same kind, attachments named
//   "/var/mobile/Library/...", a reaction, a group event; no edit or unsend columns.
// Ios5: msg_group/group_member/message/msg_pieces, Unix-second dates: a conversation with
//   "13800138000" (SMS, with an MMS of a text part and a picture part), a group of two, an
//   iMessage conversation with the e-mail address.
namespace MessagesDatabases {

enum class Era
{
    Ios5,
    Ios10,
    Ios17
};

struct File
{
    QString path; // relative path in MediaDomain
    QByteArray content;
};

struct Sample
{
    QByteArray db;
    std::vector<File> files;   // the attachments the backup holds
    QStringList missingFiles;  // attachments the database names but the backup lacks
};

// The database of era and its attachments. Media are made with ffmpeg and heif-enc.
Sample sms(Era era);

// One conversation (chat 1, with "+8613800138000") of count messages, seconds apart, every
// 50th with a JPEG attachment and every 20th
// answered by a reaction. Nanosecond dates, text in attributedBody only on every third row.
Sample longConversation(int count);

// The era's database at Library/SMS/sms.db and its attachments, as a backup holds them.
void addMessages(SampleBackup& backup, Era era);
// The long conversation, its single picture stored under every attachment's path.
void addLongConversation(SampleBackup& backup, int count);

} // namespace MessagesDatabases
