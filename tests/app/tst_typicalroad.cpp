// The typical road through the program, end to end on the demo backup: the real main window
// lists the backup of the default folder, loads it on Next, Wechat opens the chat window (after
// the account chooser), a click on a contact builds the page with its media, and clicks in the
// page open the playback window on the decoded SILK voice and the image window on a picture.
// SDL's disk driver writes what the device played to a file, which is measured.
#include "FolderSnapshot.h"
#include "ModalTestSupport.h"
#include "SampleBackup.h"
#include "WebTestSupport.h"
#include "WechatData.h"
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "util/WorkFolder.h"
#include "chat/ChatSchemes.h"
#include "chat/ChatSession.h"
#include "chat/FormChat.h"
#include "chat/FormChatList.h"
#include "media/FormImage.h"
#include "media/FormVideo.h"
#include "player/AVPlayer.h"

#include <QAction>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSlider>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QtTest>

#include <cmath>
#include <functional>
#include <memory>

namespace {

// The device's output (16-bit stereo) and the span in it that is above the silence threshold.
struct Played
{
    std::vector<qint16> left, right;
    int rate = 0;
    int firstLoud = -1;
    int lastLoud = -1;

    double seconds() const { return double(lastLoud - firstLoud + 1) / rate; }
};

Played readDevice(const QString& file, qint64 from, qint64 to, int rate)
{
    Played p;
    p.rate = rate;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return p;
    from &= ~qint64(3);
    f.seek(from);
    const QByteArray bytes = f.read(to - from);
    const auto* s = reinterpret_cast<const qint16*>(bytes.constData());
    for (qsizetype i = 0; i + 1 < bytes.size() / 2; i += 2) {
        p.left.push_back(s[i]);
        p.right.push_back(s[i + 1]);
        if (std::max(std::abs(int(s[i])), std::abs(int(s[i + 1]))) > 300) {
            if (p.firstLoud < 0)
                p.firstLoud = int(p.left.size() - 1);
            p.lastLoud = int(p.left.size() - 1);
        }
    }
    return p;
}

// The pitch over the middle half of the loud span, from its zero crossings. A crossing counts
// only once the signal has swung past a tenth of the tone's level, so codec noise near zero
// adds none.
double pitchOf(const Played& p)
{
    const int quarter = (p.lastLoud - p.firstLoud) / 4;
    const int from = p.firstLoud + quarter, to = p.lastLoud - quarter;
    int peak = 0;
    for (int i = from; i <= to; ++i)
        peak = std::max(peak, std::abs(int(p.left[size_t(i)])));
    const int band = peak / 10;
    int sign = 0, crossings = 0, first = -1, last = -1;
    for (int i = from; i <= to; ++i) {
        const int v = p.left[size_t(i)];
        const int now = v > band ? 1 : v < -band ? -1 : 0;
        if (now == 0 || now == sign)
            continue;
        if (sign != 0) {
            if (first < 0)
                first = i;
            else
                ++crossings;
            last = i;
        }
        sign = now;
    }
    if (crossings == 0)
        return 0;
    return crossings / 2.0 / (double(last - first) / p.rate);
}

} // namespace

class TestTypicalRoad final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void voiceAndPictureClicksInTheChatPage();

private:
    QTemporaryDir m_dir;
    QString m_backup;
    QString m_deviceFile;
    QStringList m_messages;
};

void TestTypicalRoad::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // The user's data folder holds the demo backup; the chat viewer's temporary files go into
    // the test's own folder; SilkDecoder lies beside the program, which is not this test.
    qputenv("XDG_DATA_HOME", m_dir.filePath("data").toUtf8());
    QDir().mkpath(m_dir.filePath("tmp"));
    qputenv("TMPDIR", m_dir.filePath("tmp").toUtf8());
    const QString decoderDir = QStringLiteral(FERROWICK_BINARY_DIR "/src");
    QVERIFY(QFileInfo(decoderDir + QStringLiteral("/SilkDecoder")).isExecutable());
    qputenv("PATH", decoderDir.toUtf8() + ':' + qgetenv("PATH"));
    // Set before the first player opens the device.
    m_deviceFile = m_dir.filePath("device.raw");
    qputenv("SDL_AUDIODRIVER", "disk");
    qputenv("SDL_DISKAUDIOFILE", m_deviceFile.toUtf8());

    m_backup = m_dir.filePath("data/Apple Computer/MobileSync/Backup/demo");
    SampleBackup::demo().write(m_backup);
    setMessageSink([this](const QString& text, bool) { m_messages << text; });
}

void TestTypicalRoad::cleanupTestCase()
{
    setMessageSink({});
}

void TestTypicalRoad::voiceAndPictureClicksInTheChatPage()
{
    const auto before = folderSnapshot(m_backup);
    TdmGlobal dm;
    TFormMain form(dm);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // Select the backup of the default folder and press Next.
    QCOMPARE(form.cbbBackup->count(), 1);
    QVERIFY(form.cbbBackup->itemText(0).startsWith(QStringLiteral("Ferrowick Demo iPhone \u2014 ")));
    form.cbbBackup->setFocus();
    QTest::keyClick(form.cbbBackup, Qt::Key_Down);
    QCOMPARE(form.cbbBackup->currentIndex(), 0);
    QTRY_VERIFY(form.btnNext->isEnabled());
    QTest::mouseClick(form.btnNext, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(form.tbcMain->currentWidget(), form.tabMain, 30000);
    QTRY_VERIFY(form.btnWechat->isEnabled());

    // What the walk saw, checked once the windows have closed.
    struct
    {
        int accounts = 0;
        bool pageShown = false;
        QString audioFolder, imageFolder;
        QString voiceLink, pictureLink;
        bool videoShown = false, imageShown = false;
        QString videoFile, videoLabel;
        qint64 videoFileSize = -1;
        double duration = 0;
        int seekMaximum = -1;
        int deviceRate = 0;
        qint64 deviceFrom = 0, deviceTo = 0;
        bool playedToTheEnd = false;
        QString imageFile, imageTitle, imageCopy;
        QSize imageShownSize, imageFileSize;
        bool pageStayed = false;
    } walk;

    const auto deviceBytes = [this] { return QFileInfo(m_deviceFile).size(); };

    whenShown<TFormChatList>([&](TFormChatList& chooser) {
        walk.accounts = chooser.cbbUser->count();
        chooser.cbbUser->setCurrentIndex(0);
        chooser.btnOk->click();
    });
    whenShown<TFormChat>([&](TFormChat& chat) {
        const auto alice =
            chat.lstFriends->findItems(QStringLiteral("Alice(Ally)"), Qt::MatchExactly);
        QCOMPARE(alice.size(), 1);
        QSignalSpy shown(&chat, &TFormChat::pageShown);
        QTest::mouseClick(chat.lstFriends->viewport(), Qt::LeftButton, {},
                          chat.lstFriends->visualItemRect(alice.first()).center());
        QTRY_VERIFY_WITH_TIMEOUT(shown.count() >= 1, 60000);
        walk.pageShown = shown.first().first().toBool();
        walk.audioFolder = chat.session().tempFolder("Audio");
        walk.imageFolder = chat.session().tempFolder("Image");
        QWebEnginePage* page = chat.webHistory->page();

        whenShown<TFormVideo>([&](TFormVideo& video) {
            walk.videoShown = true;
            walk.videoFile = video.FFile.srcFile;
            walk.videoFileSize = QFileInfo(walk.videoFile).size();
            // Played out: the position reaches the duration, then the device's buffer drains.
            QTRY_VERIFY_WITH_TIMEOUT(video.Player->Duration() > 0 &&
                                         video.Player->Position() >= video.Player->Duration(),
                                     20000);
            walk.playedToTheEnd = true;
            QTest::qWait(1500); // the device's buffer and the label's next tick
            walk.deviceTo = deviceBytes();
            walk.deviceRate = video.Player->AudioTarget().freq;
            walk.duration = video.Player->Duration();
            walk.seekMaximum = video.tbDuration->maximum();
            walk.videoLabel = video.lblDuration->text();
        });
        // The SILK voice message: its element names the decoded .pcm file.
        walk.deviceFrom = deviceBytes(); // nothing has played yet
        walk.voiceLink = runJs(page, QStringLiteral(R"(
            (() => {
                const e = Array.from(document.querySelectorAll('.speech.audio'))
                    .find(e => (e.getAttribute('onclick') || '').includes('.pcm'));
                if (!e) return '';
                e.click();
                return e.getAttribute('onclick');
            })())"))
                             .toString();
        QTRY_VERIFY_WITH_TIMEOUT(walk.videoShown, 20000);
        // Closed again, and the chat window is still the modal one: the main window below
        // takes no clicks while the chat window is open.
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == &chat, 30000);

        QTRY_VERIFY_WITH_TIMEOUT(
            runJs(page, QStringLiteral("Array.from(document.images).every(i => i.complete)"))
                .toBool(),
            10000);
        whenShown<TFormImage>([&](TFormImage& image) {
            walk.imageShown = true;
            walk.imageFile = image.FFile ? image.FFile->srcFile : QString();
            walk.imageTitle = image.windowTitle();
            walk.imageCopy = image.tempCopy();
            walk.imageShownSize = image.imgPhoto->image().size();
            walk.imageFileSize = QImage(walk.imageFile).size();
        });
        walk.pictureLink = runJs(page, QStringLiteral(R"(
            (() => {
                const e = Array.from(document.images)
                    .find(e => (e.getAttribute('onclick') || '').includes('image://'));
                if (!e) return '';
                e.click();
                return e.getAttribute('onclick');
            })())"))
                               .toString();
        QTRY_VERIFY_WITH_TIMEOUT(walk.imageShown, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(QApplication::activeModalWidget() == &chat, 10000);
        walk.pageStayed = chat.webHistory->url() == chat.pageUrl();
    });
    QTest::mouseClick(form.btnWechat, Qt::LeftButton); // returns when the chat window closes

    QVERIFY2(m_messages.isEmpty(), qPrintable(m_messages.join('\n')));
    QCOMPARE(walk.accounts, 2); // two accounts; the second's -wal and -shm are no accounts
    QVERIFY(walk.pageShown);
    QVERIFY(walk.pageStayed);

    // The voice click decoded the voice and opened the playback window on it.
    const QRegularExpression voice(QStringLiteral("^location\\.href='audio://([^']+\\.pcm)';$"));
    const QRegularExpressionMatch voiceName = voice.match(walk.voiceLink);
    QVERIFY2(voiceName.hasMatch(), qPrintable(walk.voiceLink));
    QVERIFY(walk.videoShown);
    QCOMPARE(walk.videoFile, walk.audioFolder + voiceName.captured(1));
    QVERIFY(walk.videoFileSize > 0);
    // Decoded voice lives in the chat's private folder, gone with the chat window.
    QVERIFY(TWorkFolder::contains(walk.videoFile));
    QVERIFY(!QFileInfo::exists(walk.videoFile));
    QVERIFY(walk.playedToTheEnd);
    QVERIFY2(std::abs(walk.duration - wechat::kSilkVoiceSeconds) < 0.021,
             qPrintable(QString::number(walk.duration)));
    // The seek bar counts milliseconds.
    QCOMPARE(walk.seekMaximum, int(walk.duration * 1000));
    QVERIFY2(walk.videoLabel.endsWith(QStringLiteral("/Duration:") +
                                      FormatMediaTime(false, walk.duration)),
             qPrintable(walk.videoLabel));

    // What the device played: the encoded tone, at its pitch and for its length, alike on both
    // channels, with silence before and after it inside the capture.
    QVERIFY(walk.deviceRate == 44100 || walk.deviceRate == 48000);
    const Played played = readDevice(m_deviceFile, walk.deviceFrom, walk.deviceTo, walk.deviceRate);
    QVERIFY2(played.firstLoud > 0, "nothing was played, or it began before the window opened");
    QVERIFY(played.lastLoud + played.rate / 10 < int(played.left.size()));
    // SILK codes 20 ms frames, and its first frame fades in: within two frames either way.
    QVERIFY2(std::abs(played.seconds() - wechat::kSilkVoiceSeconds) <= 0.04,
             qPrintable(QString::number(played.seconds())));
    for (int i = played.firstLoud; i <= played.lastLoud; ++i)
        QCOMPARE(played.left[size_t(i)], played.right[size_t(i)]);
    // A rate mismatch anywhere along the way (decoder, raw input, resampling) shifts the pitch
    // by far more than 1%: 11780 Hz taken for 11025 Hz would give 6.4%.
    const double pitch = pitchOf(played);
    QVERIFY2(std::abs(pitch - wechat::kSilkVoiceFrequency) < wechat::kSilkVoiceFrequency * 0.01,
             qPrintable(QString::number(pitch)));

    // The picture click opened the image window on the temporary picture of the page build,
    // shown whole from a copy under its own name in the temporary folder.
    const QRegularExpression picture(QStringLiteral("^location\\.href='image://([^']+)';$"));
    const QRegularExpressionMatch pictureName = picture.match(walk.pictureLink);
    QVERIFY2(pictureName.hasMatch(), qPrintable(walk.pictureLink));
    QVERIFY(walk.imageShown);
    QCOMPARE(walk.imageFile, walk.imageFolder + pictureName.captured(1));
    QCOMPARE(walk.imageTitle, pictureName.captured(1));
    QCOMPARE(QFileInfo(walk.imageCopy).fileName(), pictureName.captured(1));
    QVERIFY(!walk.imageFileSize.isEmpty());
    QCOMPARE(walk.imageShownSize, walk.imageFileSize);

    QCOMPARE(folderSnapshot(m_backup), before);
}

int main(int argc, char* argv[])
{
    registerChatSchemes();
    TApplication app(argc, argv);
    TestTypicalRoad test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_typicalroad.moc"
