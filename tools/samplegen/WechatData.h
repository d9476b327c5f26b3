#pragma once

#include <QByteArray>
#include <QString>

#include <map>
#include <vector>

class SampleBackup;

// WeChat's data as the demo backup and the chat tests need it: MM.sqlite with its friend table
// and conversation tables, and the media files of images, videos and voice messages.
namespace wechat {

inline constexpr char kDomain[] = "AppDomain-com.tencent.xin";

struct Friend
{
    QString usrName;
    QString nickName;
    QByteArray shortPy; // as stored; see remarkRecord()
    int type = 3;
};

struct Message
{
    qint64 createTime = 0; // Unix seconds
    QString message;
    qint64 type = 1; // 64-bit as SQLite stores it, so tests can write codes beyond 32 bits
    int des = 0;     // 0 sent by the owner, else received
    qint64 localId = 0;
};

// An MM.sqlite to write: friends, and conversations by UsrName (each one table Chat_<md5>).
// Without friendTable it is a message shard of current versions (message_N.sqlite).
struct Database
{
    std::vector<Friend> friends;
    std::map<QString, std::vector<Message>> chats;
    bool friendTable = true;

    // Writes the database file (replacing it). Throws std::runtime_error on failure.
    void write(const QString& path) const;
    QByteArray bytes() const;
};

// A contact of WCDB_Contact.sqlite (current versions): the names live in the protocol-buffer
// blob dbContactRemark (field 1 nickname, 2 alias, 3 remark).
struct Contact
{
    QString userName;
    QByteArray remark; // dbContactRemark as stored; see contactRemark()
    int type = 3;
};

// WCDB_Contact.sqlite with its Friend table.
struct ContactDatabase
{
    std::vector<Contact> contacts;
    QByteArray bytes() const;
};

// dbContactRemark for these names; empty ones are left out, as protobuf leaves out defaults.
// The remark pinyin (fields 4 and 5) comes along, so readers must skip fields.
QByteArray contactRemark(const QString& nickName, const QString& alias, const QString& remark);

// The start of a picture in WeChat's own "wxgf" format (no decoder reads it).
QByteArray wxgfImage();

// ShortPY's tagged record for a remark: 0x0A, the length, the UTF-8 bytes, 0x12 0x00.
QByteArray remarkRecord(const QString& remark);

// A JPEG picture of w x h in one colour with a caption.
QByteArray jpegImage(int w, int h, quint32 rgb, const QString& caption);
// An H.264 MP4 test clip, made with the ffmpeg tool. Throws when ffmpeg fails.
QByteArray mp4Video(double seconds, int w, int h);
// A tone as stored AMR-NB voice (12.2 kbit/s frames, without the "#!AMR\n" file header).
QByteArray amrVoice(double seconds, double frequency);
// A tone as stored SILK v3 voice (0x02 then "#!SILK_V3"), encoded by silk-wasm through node.
QByteArray silkVoice(double seconds, double frequency, int sampleRate = 24000);

// The SILK voice message of the first account's conversation with Alice: a tone of this pitch
// and length, as the chat tests expect to hear it played.
inline constexpr double kSilkVoiceSeconds = 3.0;
inline constexpr double kSilkVoiceFrequency = 523.25;

// The demo accounts' own WeChat ids, and the folders under Documents/ named after them (MD5).
QString accountOwner(int account);
QString accountFolder(int account);
// The nicknames the demo accounts' owners go by (their own rows of the friend table).
inline constexpr const char* kAccountNickname[] = {"Sam Lee", "陈明"};

// Adds the two demo accounts with their media to backup.
void addWechatData(SampleBackup& backup);

// The domain of WeChat's app-group container, where current versions keep part of the media,
// under a folder named like the account's (here "share/<account folder>/").
inline constexpr char kGroupDomain[] = "AppDomainGroup-group.com.tencent.xin";

// An account of a current version (the demo's third owner): contacts in WCDB_Contact.sqlite,
// conversations over MM.sqlite and three message shards, some media in the app-group
// container. What it holds:
// - Grace (nickname Grace, remark Gracie; MM.sqlite still has an older nickname): her
//   conversation begins in MM.sqlite and goes on in message_1.sqlite, where one message also
//   stands again; pictures in the account folder.
// - Henry (alias henry_h) and the group "Hiking Club": in message_2.sqlite.
// - Ivy (no nickname, alias ivy_88): only in message_3.sqlite; one picture in the app-group
//   container, one in WeChat's wxgf format.
void addCurrentWechatAccount(SampleBackup& backup);
inline constexpr int kCurrentAccount = 3;

// A conversation of count messages for benchmarks: texts of several lengths, some links and
// calls, times rising, MesLocalID from firstId.
std::vector<Message> longConversation(int count, qint64 firstId = 1);

} // namespace wechat
