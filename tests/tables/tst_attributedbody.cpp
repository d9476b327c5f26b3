#include "AttributedBody.h"
#include "tables/AttributedBody.h"

#include <QFile>
#include <QTest>

namespace {
const QString kRealData = QStringLiteral(FERROWICK_SOURCE_DIR "/../shared/real-data/typedstream");

QByteArray realSample(const QString& name)
{
    QFile f(kRealData + "/" + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestAttributedBody : public QObject
{
    Q_OBJECT
private slots:
    void realSamples_data();
    void realSamples();
    void generatedTexts_data();
    void generatedTexts();
    void notATypedStream_data();
    void notATypedStream();
};

void TestAttributedBody::realSamples_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("text");
    QTest::newRow("text only") << "AttributedBodyTextOnly.bin"
                               << "Noter test";
    QTest::newRow("text only 2") << "AttributedBodyTextOnly2.bin"
                                 << "Test 3";
    QTest::newRow("blank") << "Blank.bin"
                           << "";
    QTest::newRow("multipart") << "MultiPart.bin"
                               << QStringLiteral("\uFFFCtest 1\uFFFCtest 2 \uFFFCtest 3");
    QTest::newRow("url") << "URL.bin"
                         << "https://github.com/ReagentX/Logria";
    QTest::newRow("outside the BMP")
        << "WeirdText.bin"
        << QStringLiteral("\U0001D58D\U0001D58A\U0001D591\U0001D591\U0001D594 "
                          "\U0001D59C\U0001D594\U0001D597\U0001D591\U0001D589");
    // Its string's length runs past the blob's end: no text, and nothing read out of bounds.
    QTest::newRow("length past the end") << "ExtraData.bin" << QString();
}

void TestAttributedBody::realSamples()
{
    QFETCH(QString, file);
    QFETCH(QString, text);
    const QByteArray blob = realSample(file);
    if (blob.isEmpty())
        QSKIP("the real samples are not beside the clone");
    const std::optional<QString> read = attributedBodyText(blob);
    QCOMPARE(read.has_value(), !text.isNull());
    if (read)
        QCOMPARE(*read, text);
    // Every truncation stays in bounds and gives the whole text or none of it. (The blob is
    // copied, so a read past a truncation's end would be past the buffer's.)
    for (qsizetype n = 0; n < blob.size(); ++n) {
        const QByteArray cut(blob.constData(), n);
        const std::optional<QString> part = attributedBodyText(cut);
        if (part && read)
            QCOMPARE(*part, *read);
        QVERIFY(!part || read);
    }
}

void TestAttributedBody::generatedTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("short") << "hi";
    QTest::newRow("127 bytes") << QString(127, 'x');
    QTest::newRow("128 bytes") << QString(128, 'x');
    QTest::newRow("multibyte over 127 bytes") << QString(50, QChar(0x4F60)); // 150 bytes
    QTest::newRow("over 32,767 bytes") << QString(40000, 'y');
    QTest::newRow("over 65,535 bytes, multibyte")
        << QString(30000, QChar(0x00E9)) + QStringLiteral("\U0001F600") + QString(10000, 'z');
    QTest::newRow("attachment mark") << QStringLiteral("\uFFFC photo");
}

void TestAttributedBody::generatedTexts()
{
    QFETCH(QString, text);
    const QByteArray blob = attributedBodyFor(text);
    const std::optional<QString> read = attributedBodyText(blob);
    QVERIFY(read);
    QCOMPARE(*read, text);
    for (qsizetype n :
         {qsizetype(0), qsizetype(13), qsizetype(20), blob.size() / 2, blob.size() - 1}) {
        const std::optional<QString> part = attributedBodyText(QByteArray(blob.constData(), n));
        QVERIFY(!part || *part == text);
    }
}

void TestAttributedBody::notATypedStream_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("other bytes") << QByteArray("bplist00\x01\x02", 10);
    QTest::newRow("header only") << QByteArray("\x04\x0bstreamtyped\x81\xe8\x03", 16);
    QTest::newRow("a number where a type belongs")
        << QByteArray("\x04\x0bstreamtyped\x81\xe8\x03\x05", 17);
    QTest::newRow("reference to nothing")
        << QByteArray("\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\xa0", 21);
    QTest::newRow("classes inside themselves")
        << QByteArray("\x04\x0bstreamtyped\x81\xe8\x03\x84\x01@\x84\x84\x84\x01X\x00\x93", 23);
}

void TestAttributedBody::notATypedStream()
{
    QFETCH(QByteArray, blob);
    QVERIFY(!attributedBodyText(blob));
}

QTEST_GUILESS_MAIN(TestAttributedBody)
#include "tst_attributedbody.moc"
