#include "ChatFixture.h"
#include "FolderSnapshot.h"
#include "chat/ChatMedia.h"
#include "chat/ChatSession.h"
#include "util/Error.h"

#include <QtTest>

namespace {

const QString kFriend = QStringLiteral("wxid_media");

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Account
{
    std::unique_ptr<ChatFixture> fx;
    std::unique_ptr<TChatSession> session;

    explicit Account(const QList<QPair<QString, QByteArray>>& media,
                     std::vector<wechat::Message> messages = {})
    {
        wechat::Database db;
        db.friends = {{kFriend, QStringLiteral("Media"), {}, 3}};
        db.chats[kFriend] = std::move(messages);
        fx = std::make_unique<ChatFixture>(accountBackup(db, media));
        session = std::make_unique<TChatSession>(fx->dbPath, fx->recordDict, fx->backupPath,
                                                 fx->root, fx->tempPath);
        session->InitFriends();
    }
};

// A stand-in decoder on PATH that records its arguments and writes a marker as output.
struct FakeDecoder
{
    QTemporaryDir dir;
    QByteArray oldPath = qgetenv("PATH");
    FakeDecoder()
    {
        const QString script = dir.filePath(QLatin1String(kSilkDecoderProgram));
        QFile file(script);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\nprintf '%s\\n' \"$@\" > \"" +
                   dir.filePath(QStringLiteral("args")).toUtf8() + "\"\nprintf 'PCM' > \"$2\"\n");
        file.close();
        file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
        qputenv("PATH", dir.path().toUtf8() + ':' + oldPath);
    }
    ~FakeDecoder() { qputenv("PATH", oldPath); }
    QStringList args() const
    {
        return QString::fromUtf8(readFile(dir.filePath(QStringLiteral("args"))))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

} // namespace

class TestChatMedia final : public QObject
{
    Q_OBJECT

private slots:
    void imageFallbacks_data();
    void imageFallbacks();
    void imageNotIndexed();
    void silkDetection_data();
    void silkDetection();
    void amrVoiceCopy();
    void silkVoiceCommandLine();
    void missingDecoderEndsBuild();
    void videoAndPage();
    void copyFileReplacing();
};

void TestChatMedia::imageFallbacks_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("thumbFrom");
    QTest::addColumn<QString>("imageFrom");
    QTest::newRow("only pic") << QStringList{"pic"} << "pic"
                              << "pic";
    QTest::newRow("only hd") << QStringList{"pic_hd"} << "pic_hd"
                             << "pic_hd";
    QTest::newRow("only thumb") << QStringList{"pic_thum"} << "pic_thum"
                                << "pic_thum";
    QTest::newRow("thumb and hd") << QStringList{"pic_thum", "pic_hd"} << "pic_thum"
                                  << "pic_hd";
    QTest::newRow("all three") << QStringList{"pic_thum", "pic", "pic_hd"} << "pic_thum"
                               << "pic_hd";
    QTest::newRow("pic and hd") << QStringList{"pic", "pic_hd"} << "pic"
                                << "pic_hd";
}

void TestChatMedia::imageFallbacks()
{
    QFETCH(QStringList, present);
    QFETCH(QString, thumbFrom);
    QFETCH(QString, imageFrom);
    QList<QPair<QString, QByteArray>> media;
    for (const QString& kind : present)
        media.append({mediaPath("Img", kFriend, 12, qPrintable(QLatin1Char('.') + kind)),
                      "content of " + kind.toUtf8()});
    Account a(media);
    const QString h = md5Hex(kFriend);
    const TChatSession::ImageMessage image = a.session->PrepareImageMessage(h, 12);
    QCOMPARE(image.thumbCopy, a.fx->tempPath + QStringLiteral("/Image/12.pic_thum"));
    QCOMPARE(image.imageName, QStringLiteral("12.jpg"));
    QCOMPARE(readFile(image.thumbCopy), "content of " + thumbFrom.toUtf8());
    QCOMPARE(readFile(a.fx->tempPath + QStringLiteral("/Image/12.jpg")),
             "content of " + imageFrom.toUtf8());
}

void TestChatMedia::imageNotIndexed()
{
    Account a({{mediaPath("Img", kFriend, 1, ".pic"), "x"}});
    try {
        a.session->PrepareImageMessage(md5Hex(kFriend), 2);
        QFAIL("an image with no indexed file must fail");
    } catch (const Error& e) {
        QCOMPARE(e.message(), QStringLiteral("Item not found"));
    }
}

void TestChatMedia::silkDetection_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<bool>("silk");
    QTest::newRow("bytes 1 to 7") << 1 << true;
    QTest::newRow("bytes 26 to 32") << 25 << true;
    QTest::newRow("bytes 27 to 33") << 26 << false;
}

void TestChatMedia::silkDetection()
{
    QFETCH(int, offset);
    QFETCH(bool, silk);
    QByteArray stored(64, 'x');
    stored.replace(offset, 7, "SILK_V3");
    QCOMPARE(isSilkVoice(stored.left(32)), silk);
    QCOMPARE(isSilkVoice(stored), silk);
}

void TestChatMedia::amrVoiceCopy()
{
    const QByteArray stored = wechat::amrVoice(1.0, 440); // 50 frames of 32 bytes: several blocks
    Account a({{mediaPath("Audio", kFriend, 7, ".aud"), stored}});
    const auto before = folderSnapshot(a.fx->backupPath);
    QCOMPARE(a.session->PrepareVoiceMessage(md5Hex(kFriend), 7, {}), QStringLiteral("7.amr"));
    const QByteArray copy = readFile(a.fx->tempPath + QStringLiteral("/Audio/7.amr"));
    QCOMPARE(copy.size(), stored.size() + 6);
    QCOMPARE(copy.left(6), QByteArray::fromHex("2321414d520a"));
    QCOMPARE(copy.mid(6), stored);
    // The copy is a playable AMR file: FFmpeg decodes the generated second of tone.
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-i"),
                  a.fx->tempPath + QStringLiteral("/Audio/7.amr"), QStringLiteral("-f"),
                  QStringLiteral("s16le"), QStringLiteral("-ac"), QStringLiteral("1"),
                  QStringLiteral("-ar"), QStringLiteral("8000"), QStringLiteral("-")});
    QVERIFY(ffmpeg.waitForFinished(30000));
    QVERIFY2(ffmpeg.exitCode() == 0, ffmpeg.readAllStandardError().constData());
    QVERIFY(ffmpeg.readAllStandardOutput().size() >= 8000 * 2);
    QCOMPARE(folderSnapshot(a.fx->backupPath), before);
}

void TestChatMedia::silkVoiceCommandLine()
{
    FakeDecoder decoder;
    const QByteArray stored = QByteArray("\x02#!SILK_V3") + QByteArray(2500, '\x11');
    Account a({{mediaPath("Audio", kFriend, 9, ".aud"), stored}});
    const QString silk = a.fx->tempPath + QStringLiteral("/Audio/9.silk");
    const QString pcm = a.fx->tempPath + QStringLiteral("/Audio/9.pcm");
    QCOMPARE(silkDecoderCommandLine(silk, pcm),
             QStringLiteral("SilkDecoder \"%1\" \"%2\"").arg(silk, pcm));
    int pumps = 0;
    QCOMPARE(a.session->PrepareVoiceMessage(md5Hex(kFriend), 9, [&pumps] { ++pumps; }),
             QStringLiteral("9.pcm"));
    QCOMPARE(readFile(silk), stored.mid(1));
    QVERIFY(readFile(silk).startsWith("#!SILK_V3"));
    QCOMPARE(decoder.args(), (QStringList{silk, pcm}));
    QCOMPARE(readFile(pcm), QByteArray("PCM"));
}

void TestChatMedia::missingDecoderEndsBuild()
{
    const QByteArray oldPath = qgetenv("PATH");
    QTemporaryDir empty;
    qputenv("PATH", empty.path().toUtf8());
    Account a({{mediaPath("Audio", kFriend, 3, ".aud"), QByteArray("\x02#!SILK_V3abc")}},
              {{1, QStringLiteral("before"), 1, 1, 1},
               {2, QStringLiteral("<msg><voicemsg voicelength=\"1000\"/></msg>"), 34, 1, 3}});
    QVERIFY_THROWS_EXCEPTION(Error, a.session->buildPage(*a.session->friendInfo(kFriend), {}));
    qputenv("PATH", oldPath);
    QVERIFY(!QFile::exists(a.session->tempFile())); // no page written
}

void TestChatMedia::videoAndPage()
{
    const QByteArray thumb = wechat::jpegImage(40, 30, 0x336699, QStringLiteral("t"));
    Account a({{mediaPath("Video", kFriend, 5, ".video_thum"), thumb},
               {mediaPath("Video", kFriend, 5, ".mp4"), "MP4DATA"},
               {mediaPath("Video", kFriend, 6, ".video_thum"), thumb},
               {mediaPath("Video", kFriend, 6, ".mp4"), "MP4DATA6"},
               {mediaPath("Img", kFriend, 4, ".pic"), "PIC"}},
              {{1, QStringLiteral("img"), 3, 1, 4},
               {2, QStringLiteral("v"), 43, 0, 5},
               {3, QStringLiteral("v"), 62, 1, 6}});
    const TChatSession::VideoMessage video = a.session->PrepareVideoMessage(md5Hex(kFriend), 5);
    QCOMPARE(video.videoName, QStringLiteral("5.mp4"));
    // The thumbnail is copied beside the page: the page reads nothing outside its folder.
    QCOMPARE(video.thumbCopy, a.fx->tempPath + QStringLiteral("/Video/5.video_thum"));
    QCOMPARE(readFile(video.thumbCopy),
             readFile(GetRealFileName(
                 a.fx->backupPath,
                 a.fx->recordDict.value(
                     a.fx->root + QStringLiteral("Video/%1/5.video_thum").arg(md5Hex(kFriend))))));
    QCOMPARE(readFile(a.fx->tempPath + QStringLiteral("/Video/5.mp4")), QByteArray("MP4DATA"));

    QVERIFY(a.session->buildPage(*a.session->friendInfo(kFriend), {}));
    const QString page = QString::fromUtf8(readFile(a.session->tempFile()));
    const QString thumbCopy = a.fx->tempPath + QStringLiteral("/Image/4.pic_thum");
    QVERIFY(page.contains(
        QStringLiteral("<div class=\"speech left\" align=\"center\">\r\n\t\t\t<IMG "
                       "style=\"cursor:hand;max-width:150px;max-height:150px\" src=\"%1\" "
                       "onclick=\"location.href='image://4.jpg';\" style=\"cursor: pointer;\">")
            .arg(thumbCopy)));
    QVERIFY(page.contains(
        QStringLiteral("<div class=\"speech right\" align=\"center\">\r\n\t\t\t<div "
                       "class=\"block\" onclick=\"location.href='video://5.mp4';\"")));
    QVERIFY(page.contains(
        QStringLiteral("<span class=\"play-button\" onclick=\"location.href='video://6.mp4';\"")));
    QVERIFY(
        page.contains(QStringLiteral("<div class=\"speech left\">\r\n\t\t\t<div class=\"block\" "
                                     "onclick=\"location.href='video://6.mp4';\"")));
    // The thumbnail's tag closes once; the bubble follows.
    QVERIFY(page.contains(
        QStringLiteral("\" onclick=\"location.href='video://6.mp4';\" style=\"cursor: "
                       "pointer;\">\r\n\t\t</div>")));

    // A video whose thumbnail is not indexed ends the build.
    Account b({{mediaPath("Video", kFriend, 5, ".mp4"), "x"}});
    QVERIFY_THROWS_EXCEPTION(Error, b.session->PrepareVideoMessage(md5Hex(kFriend), 5));
}

void TestChatMedia::copyFileReplacing()
{
    QTemporaryDir dir;
    const QString src = dir.filePath(QStringLiteral("a"));
    const QString dst = dir.filePath(QStringLiteral("b"));
    QFile f(src);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("new");
    f.close();
    QFile g(dst);
    QVERIFY(g.open(QIODevice::WriteOnly));
    g.write("old old old");
    g.close();
    CopyFileReplacing(src, dst);
    QCOMPARE(readFile(dst), QByteArray("new"));
    QVERIFY_THROWS_EXCEPTION(Error,
                             CopyFileReplacing(dir.filePath(QStringLiteral("missing")), dst));
}

QTEST_GUILESS_MAIN(TestChatMedia)
#include "tst_chatmedia.moc"
