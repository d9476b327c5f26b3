#include "WechatData.h"

#include "SampleBackup.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QUuid>

#include <opencore-amrnb/interf_enc.h>

#include <cmath>
#include <memory>
#include <stdexcept>

namespace wechat {

namespace {

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

QString md5(const QString& text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Md5).toHex());
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
    return file.readAll();
}

void writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
}

std::vector<qint16> tone(double seconds, double frequency, int rate)
{
    std::vector<qint16> pcm(size_t(std::llround(seconds * rate)));
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = qint16(std::lround(9000.0 * std::sin(2.0 * M_PI * frequency * double(i) / rate)));
    return pcm;
}

void run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(-1))
        fail(QStringLiteral("cannot run %1: %2").arg(program, p.errorString()));
    p.waitForFinished(-1);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        fail(QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(p.readAll())));
}

struct AmrEncoderFree
{
    void operator()(void* state) const { Encoder_Interface_exit(state); }
};

} // namespace

void Database::write(const QString& path) const
{
    QFile::remove(path);
    const QString name = QStringLiteral("samplegen-wechat-%1").arg(QUuid::createUuid().toString());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            fail(QStringLiteral("cannot create %1: %2").arg(path, db.lastError().text()));
        QSqlQuery q(db);
        auto exec = [&](const QString& sql) {
            if (!q.exec(sql))
                fail(QStringLiteral("%1: %2: %3").arg(path, sql, q.lastError().text()));
        };
        db.transaction();
        // Columns as WeChat has them; the viewer reads UsrName, NickName, ShortPY and Type.
        if (friendTable)
            exec(QStringLiteral(
                "CREATE TABLE friend (UsrName TEXT, NickName TEXT, Uin INTEGER, Email TEXT, "
                "Mobile TEXT, Sex INTEGER, FullPY TEXT, ShortPY BLOB, Img TEXT, Type INTEGER, "
                "LastChatTime INTEGER, Draft TEXT)"));
        if (friendTable &&
            !q.prepare(
                QStringLiteral("INSERT INTO friend (UsrName, NickName, Uin, Sex, FullPY, ShortPY, "
                               "Type) VALUES (?, ?, 0, 0, '', ?, ?)")))
            fail(q.lastError().text());
        for (const Friend& f : friendTable ? friends : std::vector<Friend>{}) {
            q.addBindValue(f.usrName);
            q.addBindValue(f.nickName);
            q.addBindValue(f.shortPy.isNull() ? QVariant() : QVariant(f.shortPy));
            q.addBindValue(f.type);
            if (!q.exec())
                fail(q.lastError().text());
        }
        for (const auto& [usrName, messages] : chats) {
            const QString table = QStringLiteral("Chat_") + md5(usrName);
            exec(QStringLiteral(
                     "CREATE TABLE %1 (TableVer INTEGER DEFAULT 1, MesLocalID INTEGER PRIMARY KEY "
                     "AUTOINCREMENT, MesSvrID INTEGER DEFAULT 0, CreateTime INTEGER DEFAULT 0, "
                     "Message TEXT, Status INTEGER DEFAULT 0, ImgStatus INTEGER DEFAULT 0, "
                     "Type INTEGER, Des INTEGER)")
                     .arg(table));
            if (!q.prepare(
                    QStringLiteral("INSERT INTO %1 (MesLocalID, CreateTime, Message, Type, Des) "
                                   "VALUES (?, ?, ?, ?, ?)")
                        .arg(table)))
                fail(q.lastError().text());
            for (const Message& m : messages) {
                q.addBindValue(m.localId);
                q.addBindValue(m.createTime);
                q.addBindValue(m.message);
                q.addBindValue(m.type);
                q.addBindValue(m.des);
                if (!q.exec())
                    fail(QStringLiteral("%1: %2").arg(path, q.lastError().text()));
            }
        }
        if (!db.commit())
            fail(db.lastError().text());
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

QByteArray Database::bytes() const
{
    QTemporaryDir dir;
    if (!dir.isValid())
        fail(QStringLiteral("cannot create a temporary folder"));
    const QString path = dir.filePath(QStringLiteral("MM.sqlite"));
    write(path);
    return readAll(path);
}

namespace {

void appendVarint(QByteArray& out, quint64 v)
{
    do {
        const auto b = char((v & 0x7F) | (v > 0x7F ? 0x80 : 0));
        out.append(b);
        v >>= 7;
    } while (v);
}

void appendText(QByteArray& out, int field, const QString& text)
{
    if (text.isEmpty())
        return;
    const QByteArray utf8 = text.toUtf8();
    appendVarint(out, quint64(field) << 3 | 2);
    appendVarint(out, quint64(utf8.size()));
    out.append(utf8);
}

} // namespace

QByteArray contactRemark(const QString& nickName, const QString& alias, const QString& remark)
{
    QByteArray out;
    appendText(out, 1, nickName);
    appendText(out, 2, alias);
    appendText(out, 3, remark);
    appendText(out, 4, remark.isEmpty() ? QString() : QStringLiteral("py"));
    appendText(out, 5, remark.isEmpty() ? QString() : QStringLiteral("pinyin"));
    // A varint field (label count) between: readers must skip more than text.
    appendVarint(out, quint64(7) << 3 | 0);
    appendVarint(out, 300);
    return out;
}

QByteArray ContactDatabase::bytes() const
{
    QTemporaryDir dir;
    if (!dir.isValid())
        fail(QStringLiteral("cannot create a temporary folder"));
    const QString path = dir.filePath(QStringLiteral("WCDB_Contact.sqlite"));
    const QString name = QStringLiteral("samplegen-wcdb-%1").arg(QUuid::createUuid().toString());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        if (!db.open())
            fail(QStringLiteral("cannot create %1: %2").arg(path, db.lastError().text()));
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral(
                "CREATE TABLE Friend (userName TEXT PRIMARY KEY, type INTEGER, certificationFlag "
                "INTEGER, imgStatus INTEGER, encodeUserName TEXT, dbContactLocal BLOB, "
                "dbContactOther BLOB, dbContactRemark BLOB, dbContactHeadImage BLOB, "
                "dbContactProfile BLOB, dbContactSocial BLOB, dbContactChatRoom BLOB)")))
            fail(q.lastError().text());
        db.transaction();
        if (!q.prepare(QStringLiteral(
                "INSERT INTO Friend (userName, type, dbContactRemark) VALUES (?, ?, ?)")))
            fail(q.lastError().text());
        for (const Contact& c : contacts) {
            q.addBindValue(c.userName);
            q.addBindValue(c.type);
            q.addBindValue(c.remark.isNull() ? QVariant() : QVariant(c.remark));
            if (!q.exec())
                fail(q.lastError().text());
        }
        if (!db.commit())
            fail(db.lastError().text());
        q.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return readAll(path);
}

QByteArray wxgfImage()
{
    QByteArray out("wxgf");
    for (int i = 0; i < 252; ++i)
        out.append(char((i * 37 + 11) & 0xFF));
    return out;
}

QByteArray remarkRecord(const QString& remark)
{
    const QByteArray utf8 = remark.toUtf8();
    QByteArray out;
    out.append(char(0x0A));
    out.append(char(utf8.size()));
    out.append(utf8);
    out.append(char(0x12));
    out.append(char(0x00));
    return out;
}

QByteArray jpegImage(int w, int h, quint32 rgb, const QString& caption)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(QColor::fromRgb(rgb));
    {
        QPainter painter(&image);
        painter.setPen(Qt::white);
        painter.setBrush(QColor::fromRgb(rgb).darker(140));
        painter.drawEllipse(QRect(w / 6, h / 6, w * 2 / 3, h * 2 / 3));
        // No text: fonts need a GUI application, and the generator runs without one.
        const int bars = int(qHash(caption) % 5) + 2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(255, 255, 255, 150));
        for (int i = 0; i < bars; ++i)
            painter.drawRect(QRect(w / 10 + i * w / (bars * 2), h - h / 4, w / (bars * 3), h / 8));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "JPEG", 85))
        fail(QStringLiteral("cannot encode a JPEG picture"));
    return bytes;
}

QByteArray mp4Video(double seconds, int w, int h)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("clip.mp4"));
    run(QStringLiteral("ffmpeg"),
        {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
         QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("testsrc=duration=%1:size=%2x%3:rate=15").arg(seconds).arg(w).arg(h),
         QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
         QStringLiteral("sine=frequency=660:duration=%1").arg(seconds), QStringLiteral("-c:v"),
         QStringLiteral("libx264"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"),
         QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-shortest"), out});
    return readAll(out);
}

QByteArray amrVoice(double seconds, double frequency)
{
    constexpr int kRate = 8000;
    constexpr int kFrame = 160;
    std::unique_ptr<void, AmrEncoderFree> encoder(Encoder_Interface_init(0));
    if (!encoder)
        fail(QStringLiteral("cannot create an AMR-NB encoder"));
    std::vector<qint16> pcm = tone(seconds, frequency, kRate);
    pcm.resize((pcm.size() + kFrame - 1) / kFrame * kFrame, 0);
    QByteArray out;
    unsigned char frame[64];
    for (size_t at = 0; at < pcm.size(); at += kFrame) {
        const int n = Encoder_Interface_Encode(encoder.get(), MR122, pcm.data() + at, frame, 0);
        if (n <= 0)
            fail(QStringLiteral("AMR-NB encoding failed"));
        out.append(reinterpret_cast<const char*>(frame), n);
    }
    return out;
}

QByteArray silkVoice(double seconds, double frequency, int sampleRate)
{
    QTemporaryDir dir;
    const std::vector<qint16> pcm = tone(seconds, frequency, sampleRate);
    const QString in = dir.filePath(QStringLiteral("voice.pcm"));
    const QString out = dir.filePath(QStringLiteral("voice.aud"));
    writeAll(in, QByteArray(reinterpret_cast<const char*>(pcm.data()), qsizetype(pcm.size() * 2)));
    run(QStringLiteral("node"),
        {QStringLiteral(FERROWICK_SILK_ENCODER), in, QString::number(sampleRate), out});
    return readAll(out);
}

QString accountOwner(int account)
{
    return QStringLiteral("wxid_demo_owner%1").arg(account);
}

QString accountFolder(int account)
{
    return md5(accountOwner(account));
}

namespace {

constexpr qint64 kStart = 1462104000; // 2016-05-01 12:00:00 UTC

QString mediaPath(const QString& account, const char* kind, const QString& usrName, qint64 id,
                  const char* suffix)
{
    return QStringLiteral("Documents/%1/%2/%3/%4%5")
        .arg(account, QLatin1String(kind), md5(usrName), QString::number(id),
             QLatin1String(suffix));
}

void addFirstAccount(SampleBackup& backup)
{
    const QString domain = QLatin1String(kDomain);
    const QString account = accountFolder(1);
    const QString alice = QStringLiteral("wxid_alice");
    const QString bob = QStringLiteral("wxid_bob");
    const QString carol = QStringLiteral("wxid_carol");
    const QString group = QStringLiteral("5551234@chatroom");
    const QString official = QStringLiteral("gh_news");

    Database db;
    db.friends = {
        {alice, QStringLiteral("Ally"), remarkRecord(QStringLiteral("Alice")), 3},
        {bob, QStringLiteral("Bob"), QByteArray::fromHex("0a00"), 3},
        {carol, QStringLiteral("carol"), remarkRecord(QStringLiteral("carol")), 3},
        {QStringLiteral("wxid_dave"), QStringLiteral("Dave"), {}, 3}, // no conversation
        {group, QStringLiteral("Family"), {}, 2},
        {official, QStringLiteral("Daily News"), {}, 3},
        // The owner's own row: no conversation of its own, so never listed.
        {accountOwner(1), QString::fromUtf8(kAccountNickname[0]), {}, 3},
    };

    auto& a = db.chats[alice];
    qint64 t = kStart;
    qint64 id = 0;
    auto add = [&](std::vector<Message>& chat, const QString& text, int type, int des) {
        t += 47;
        chat.push_back({t, text, type, des, ++id});
        return id;
    };
    add(a, QStringLiteral("Hi Alice! Are we still on for Saturday?"), 1, 0);
    add(a, QStringLiteral("Yes! I'll bring the photos from the trip."), 1, 1);
    const qint64 img1 = add(a, QStringLiteral("<msg><img length=\"20000\"/></msg>"), 3, 1);
    const qint64 img2 = add(a, QStringLiteral("<msg><img length=\"18000\"/></msg>"), 3, 0);
    add(a, QStringLiteral("Beautiful — 好看！"), 1, 0);
    const qint64 vid = add(a, QStringLiteral("<msg><videomsg length=\"2\"/></msg>"), 43, 1);
    const qint64 amr = add(
        a, QStringLiteral("<msg><voicemsg voicelength=\"2400\" length=\"3000\"/></msg>"), 34, 1);
    const qint64 silk = add(
        a, QStringLiteral("<msg><voicemsg voicelength=\"3000\" length=\"4200\"/></msg>"), 34, 0);
    add(a,
        QStringLiteral("<msg><appmsg><title>Trip report</title><des>Ten days in the mountains</des>"
                       "<type>5</type><url>https://example.com/trip</url></appmsg></msg>"),
        49, 1);
    add(a, QStringLiteral("<msg><appmsg><title>Where I am</title><type>17</type></appmsg></msg>"),
        49, 1);
    add(a, QStringLiteral("<voipmsg><duration>3725</duration></voipmsg>"), 50, 0);
    add(a, QStringLiteral("[sticker]"), 47, 1);
    add(a, QStringLiteral("See you then!"), 1, 1);

    auto& g = db.chats[group];
    add(g, alice + QStringLiteral(":\nDinner at 7?"), 1, 1);
    add(g, QStringLiteral("Sounds good"), 1, 0);
    add(g, QStringLiteral("wxid_stranger:\nI'll be late"), 1, 1);
    add(g, QStringLiteral("Bob joined the group chat"), 10000, 1);

    auto& b = db.chats[bob];
    add(b, QStringLiteral("Did you get my message?"), 1, 1);
    add(b, QStringLiteral("Yes, thanks!"), 1, 0);
    db.chats[carol].push_back({kStart + 99, QStringLiteral("Hello from carol"), 1, 1, ++id});
    db.chats[official].push_back({kStart + 5, QStringLiteral("Today's headlines"), 1, 1, ++id});

    backup.addFile(domain, QStringLiteral("Documents/%1/DB/MM.sqlite").arg(account), db.bytes());

    const QByteArray thumb1 = jpegImage(120, 90, 0x3a7bd5, QStringLiteral("thumb"));
    backup.addFile(domain, mediaPath(account, "Img", alice, img1, ".pic_thum"), thumb1);
    backup.addFile(domain, mediaPath(account, "Img", alice, img1, ".pic"),
                   jpegImage(640, 480, 0x3a7bd5, QStringLiteral("Lake")));
    backup.addFile(domain, mediaPath(account, "Img", alice, img1, ".pic_hd"),
                   jpegImage(1280, 960, 0x3a7bd5, QStringLiteral("Lake HD")));
    backup.addFile(domain, mediaPath(account, "Img", alice, img2, ".pic"),
                   jpegImage(480, 640, 0xe67e22, QStringLiteral("Sunset")));
    backup.addFile(domain, mediaPath(account, "Video", alice, vid, ".video_thum"),
                   jpegImage(160, 120, 0x2c3e50, QStringLiteral("video")));
    backup.addFile(domain, mediaPath(account, "Video", alice, vid, ".mp4"), mp4Video(2, 320, 240));
    backup.addFile(domain, mediaPath(account, "Audio", alice, amr, ".aud"), amrVoice(2.4, 440));
    backup.addFile(domain, mediaPath(account, "Audio", alice, silk, ".aud"),
                   silkVoice(kSilkVoiceSeconds, kSilkVoiceFrequency));
}

void addSecondAccount(SampleBackup& backup)
{
    const QString domain = QLatin1String(kDomain);
    const QString account = accountFolder(2);
    const QString erin = QStringLiteral("wxid_erin");
    Database db;
    db.friends = {{erin, QStringLiteral("Erin"), remarkRecord(QStringLiteral("Erin W.")), 3},
                  {accountOwner(2), QString::fromUtf8(kAccountNickname[1]), {}, 3}};
    db.chats[erin] = {{kStart + 10, QStringLiteral("Second account, first message"), 1, 0, 1},
                      {kStart + 70, QStringLiteral("Got it"), 1, 1, 2}};
    backup.addFile(domain, QStringLiteral("Documents/%1/DB/MM.sqlite").arg(account), db.bytes());
    // A WAL-mode account: the catalog lists the companion files too (checkpointed, so empty).
    backup.addFile(domain, QStringLiteral("Documents/%1/DB/MM.sqlite-wal").arg(account),
                   QByteArray());
    backup.addFile(domain, QStringLiteral("Documents/%1/DB/MM.sqlite-shm").arg(account),
                   QByteArray(32768, '\0'));
}

} // namespace

void addWechatData(SampleBackup& backup)
{
    addFirstAccount(backup);
    addSecondAccount(backup);
}

void addCurrentWechatAccount(SampleBackup& backup)
{
    const QString domain = QLatin1String(kDomain);
    const QString account = accountFolder(kCurrentAccount);
    const QString grace = QStringLiteral("wxid_grace");
    const QString henry = QStringLiteral("wxid_henry");
    const QString ivy = QStringLiteral("wxid_ivy");
    const QString club = QStringLiteral("7770001@chatroom");
    const QString weather = QStringLiteral("gh_weather");
    const qint64 start = 1700000000; // 2023-11-14

    ContactDatabase contacts;
    contacts.contacts = {
        {accountOwner(kCurrentAccount), contactRemark(QStringLiteral("Lin Xiao"), {}, {}), 3},
        {grace, contactRemark(QStringLiteral("Grace"), {}, QStringLiteral("Gracie")), 3},
        {henry, contactRemark(QStringLiteral("Henry"), QStringLiteral("henry_h"), {}), 3},
        {ivy, contactRemark({}, QStringLiteral("ivy_88"), {}), 3},
        {club, contactRemark(QStringLiteral("Hiking Club"), {}, {}), 2},
        {weather, contactRemark(QStringLiteral("Weather Daily"), {}, {}), 3},
        {QStringLiteral("wxid_quiet"), contactRemark(QStringLiteral("Quiet"), {}, {}), 3},
    };
    backup.addFile(domain, QStringLiteral("Documents/%1/DB/WCDB_Contact.sqlite").arg(account),
                   contacts.bytes());

    // The phone was upgraded: MM.sqlite keeps the start of Grace's conversation and her old name.
    Database mm;
    mm.friends = {{grace, QStringLiteral("Grace (old)"), {}, 3}};
    mm.chats[grace] = {
        {start + 10, QStringLiteral("Hi Grace, long time!"), 1, 0, 1},
        {start + 20, QStringLiteral("Hello! Moving to the new phone today."), 1, 1, 2},
    };
    backup.addFile(domain, QStringLiteral("Documents/%1/DB/MM.sqlite").arg(account), mm.bytes());

    Database shard1;
    shard1.friendTable = false;
    shard1.chats[grace] = {
        {start + 20, QStringLiteral("Hello! Moving to the new phone today."), 1, 1, 2}, // again
        {start + 30, QStringLiteral("<msg><img length=\"20000\"/></msg>"), 3, 1, 3},
        // Same second as the next: MesLocalID orders them.
        {start + 40, QStringLiteral("Nice view"), 1, 0, 5},
        {start + 40, QStringLiteral("<msg><img length=\"9000\"/></msg>"), 3, 0, 4},
        {start + 50, QStringLiteral("Thanks!"), 1, 1, 6},
    };
    backup.addFile(domain, QStringLiteral("Documents/%1/DB/message_1.sqlite").arg(account),
                   shard1.bytes());

    Database shard2;
    shard2.friendTable = false;
    shard2.chats[henry] = {{start + 100, QStringLiteral("Henry here."), 1, 1, 1},
                           {start + 160, QStringLiteral("Hi Henry"), 1, 0, 2}};
    shard2.chats[club] = {{start + 200, henry + QStringLiteral(":\nTrail at 8?"), 1, 1, 1},
                          {start + 210, QStringLiteral("I'm in"), 1, 0, 2},
                          {start + 220, ivy + QStringLiteral(":\nMe too"), 1, 1, 3}};
    shard2.chats[weather] = {{start + 5, QStringLiteral("Sunny, 21°C"), 1, 1, 1}};
    backup.addFile(domain, QStringLiteral("Documents/%1/DB/message_2.sqlite").arg(account),
                   shard2.bytes());

    Database shard3;
    shard3.friendTable = false;
    shard3.chats[ivy] = {{start + 300, QStringLiteral("Only in the third shard"), 1, 1, 1},
                         {start + 310, QStringLiteral("<msg><img length=\"7000\"/></msg>"), 3, 1, 2},
                         {start + 320, QStringLiteral("<msg><img length=\"256\"/></msg>"), 3, 1, 3},
                         {start + 330, QStringLiteral("Got them?"), 1, 1, 4}};
    backup.addFile(domain, QStringLiteral("Documents/%1/DB/message_3.sqlite").arg(account),
                   shard3.bytes());

    backup.addFile(domain, mediaPath(account, "Img", grace, 3, ".pic_thum"),
                   jpegImage(120, 90, 0x16a085, QStringLiteral("G3")));
    backup.addFile(domain, mediaPath(account, "Img", grace, 3, ".pic"),
                   jpegImage(640, 480, 0x16a085, QStringLiteral("Harbour")));
    backup.addFile(domain, mediaPath(account, "Img", grace, 4, ".pic"),
                   jpegImage(480, 360, 0x8e44ad, QStringLiteral("View")));
    // The app-group container holds Ivy's pictures, below a folder of the account's name.
    const QString group = QLatin1String(kGroupDomain);
    const QString ivyImg = QStringLiteral("share/%1/Img/%2/").arg(account, md5(ivy));
    backup.addFile(group, ivyImg + QStringLiteral("2.pic_thum"),
                   jpegImage(120, 90, 0xc0392b, QStringLiteral("I2")));
    backup.addFile(group, ivyImg + QStringLiteral("2.pic"),
                   jpegImage(640, 480, 0xc0392b, QStringLiteral("Ivy's cat")));
    backup.addFile(group, ivyImg + QStringLiteral("3.pic"), wxgfImage());
    backup.addFile(group, ivyImg + QStringLiteral("3.pic_thum"), wxgfImage());
}

std::vector<Message> longConversation(int count, qint64 firstId)
{
    std::vector<Message> out;
    out.reserve(size_t(count));
    for (int i = 0; i < count; ++i) {
        const qint64 id = firstId + i;
        const qint64 t = 1600000000 + qint64(i) * 13;
        QString text;
        int type = 1;
        if (i % 50 == 7) {
            type = 49;
            text = QStringLiteral("<msg><appmsg><title>Article %1</title><des>About things</des>"
                                  "<type>5</type><url>https://example.com/a/%1</url></appmsg></msg>")
                       .arg(i);
        } else if (i % 97 == 3) {
            type = 50;
            text = QStringLiteral("<voipmsg><duration>%1</duration></voipmsg>").arg(i % 4000);
        } else {
            text = QStringLiteral("Message %1: ").arg(i) +
                   QStringLiteral("the quick brown fox jumps over the lazy dog. ").repeated(1 + i % 4);
        }
        out.push_back({t, text, type, i % 3 == 0 ? 0 : 1, id});
    }
    return out;
}

} // namespace wechat
