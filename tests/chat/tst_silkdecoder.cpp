#include "ChatFixture.h"
#include "chat/ChatMedia.h"

#include <QtTest>

#include <cmath>

namespace {

constexpr int kRate = 11780;

struct Decoded
{
    std::vector<qint16> left;
    bool channelsEqual = true;
};

// Encodes a tone as stored SILK voice, hands the decoder the file without its first byte (as
// the viewer does) and reads back the interleaved stereo output.
Decoded decodeTone(double seconds, double frequency)
{
    QTemporaryDir dir;
    const QString silk = dir.filePath(QStringLiteral("v.silk"));
    const QString pcm = dir.filePath(QStringLiteral("v.pcm"));
    QFile out(silk);
    out.open(QIODevice::WriteOnly);
    out.write(wechat::silkVoice(seconds, frequency).mid(1));
    out.close();
    RunAndWait(silkDecoderCommandLine(silk, pcm), {});
    QFile in(pcm);
    Decoded d;
    if (!in.open(QIODevice::ReadOnly))
        return d;
    const QByteArray bytes = in.readAll();
    const auto* s = reinterpret_cast<const qint16*>(bytes.constData());
    for (qsizetype i = 0; i + 1 < bytes.size() / 2; i += 2) {
        d.left.push_back(s[i]);
        d.channelsEqual = d.channelsEqual && s[i] == s[i + 1];
    }
    return d;
}

// Power of one frequency over the middle of the signal (Goertzel), per sample.
double power(const std::vector<qint16>& x, double frequency)
{
    const size_t from = x.size() / 4, to = x.size() * 3 / 4;
    const double w = 2 * M_PI * frequency / kRate;
    double s1 = 0, s2 = 0;
    for (size_t i = from; i < to; ++i) {
        const double s0 = x[i] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return (s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2) / double(to - from);
}

double rms(const std::vector<qint16>& x)
{
    double sum = 0;
    for (size_t i = x.size() / 4; i < x.size() * 3 / 4; ++i)
        sum += double(x[i]) * x[i];
    return std::sqrt(sum / double(x.size() / 2));
}

} // namespace

class TestSilkDecoder final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void toneKeepsPitchAndLength_data();
    void toneKeepsPitchAndLength();
    void highToneIsFilteredNotFolded();
    void badInputFails();
};

void TestSilkDecoder::initTestCase()
{
    // The viewer finds the decoder beside its executable or on PATH; here, on PATH.
    const QString dir = QStringLiteral(FERROWICK_BINARY_DIR "/src");
    QVERIFY(QFileInfo(dir + QStringLiteral("/SilkDecoder")).isExecutable());
    qputenv("PATH", dir.toUtf8() + ':' + qgetenv("PATH"));
}

void TestSilkDecoder::toneKeepsPitchAndLength_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("frequency");
    QTest::newRow("440 Hz, 1.5 s") << 1.5 << 440.0;
    QTest::newRow("1000 Hz, 2 s") << 2.0 << 1000.0;
    QTest::newRow("3000 Hz, 1 s") << 1.0 << 3000.0;
}

void TestSilkDecoder::toneKeepsPitchAndLength()
{
    QFETCH(double, seconds);
    QFETCH(double, frequency);
    const Decoded d = decodeTone(seconds, frequency);
    QVERIFY(d.channelsEqual);
    // Length within one 20 ms SILK frame.
    QVERIFY2(std::abs(double(d.left.size()) / kRate - seconds) <= 0.021,
             qPrintable(QString::number(double(d.left.size()) / kRate)));
    // The tone's own frequency dominates its neighbours a semitone away.
    const double at = power(d.left, frequency);
    QVERIFY2(at > 20 * power(d.left, frequency * 1.06) && at > 20 * power(d.left, frequency / 1.06),
             qPrintable(QStringLiteral("%1 %2 %3")
                            .arg(at)
                            .arg(power(d.left, frequency * 1.06))
                            .arg(power(d.left, frequency / 1.06))));
    QVERIFY(rms(d.left) > 1000);
}

void TestSilkDecoder::highToneIsFilteredNotFolded()
{
    // 7 kHz lies above the output's 5890 Hz limit; unfiltered it would fold to 4780 Hz.
    const Decoded high = decodeTone(1.0, 7000.0);
    const Decoded low = decodeTone(1.0, 1000.0);
    QVERIFY(!high.left.empty());
    QVERIFY2(
        power(high.left, 4780.0) < power(low.left, 1000.0) / 1000,
        qPrintable(
            QStringLiteral("%1 vs %2").arg(power(high.left, 4780.0)).arg(power(low.left, 1000.0))));
}

void TestSilkDecoder::badInputFails()
{
    QTemporaryDir dir;
    const QString silk = dir.filePath(QStringLiteral("bad.silk"));
    const QString pcm = dir.filePath(QStringLiteral("bad.pcm"));
    QFile out(silk);
    out.open(QIODevice::WriteOnly);
    out.write("not a voice message at all");
    out.close();
    RunAndWait(silkDecoderCommandLine(silk, pcm), {}); // the exit code is not read
    QVERIFY(!QFile::exists(pcm));
}

QTEST_GUILESS_MAIN(TestSilkDecoder)
#include "tst_silkdecoder.moc"
