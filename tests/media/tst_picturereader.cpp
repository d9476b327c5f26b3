#include "CurrentPhotos.h"
#include "MediaData.h"
#include "media/PictureReader.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <thread>
#include <vector>

// Pictures read by content: HEIC through libheif with its own rotation, JPEG with its EXIF
// orientation, each turned exactly once, and large photos decoded at the size asked for.
class TestPictureReader : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void orientation_data();
    void orientation();
    void heifEncFileAndThumbnail();
    void jpegExifThumbnail_data();
    void jpegExifThumbnail();
    void contentNotName_data();
    void contentNotName();
    void brokenFilesFail_data();
    void brokenFilesFail();
    void largeJpegOpensScaled();
    void jpegCopy();
    void parallelReads();

private:
    QString write(const QString& name, const QByteArray& bytes);
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

enum Corner
{
    TopLeft,
    TopRight,
    BottomLeft,
    BottomRight
};

// The colour near corner c of a picture drawn by media::markedPicture (after any turn).
QColor cornerColour(const QImage& image, Corner c)
{
    const int s = std::min(image.width(), image.height()) / 8;
    const int x = (c == TopLeft || c == BottomLeft) ? s : image.width() - 1 - s;
    const int y = (c == TopLeft || c == TopRight) ? s : image.height() - 1 - s;
    return image.pixelColor(x, y);
}

bool isGreen(const QColor& c)
{
    return c.green() > 140 && c.red() < 90 && c.blue() < 90;
}

bool isRed(const QColor& c)
{
    return c.red() > 150 && c.green() < 90 && c.blue() < 90;
}

QByteArray encode(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, 90);
    return bytes;
}

bool run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(-1) || !p.waitForFinished(-1))
        return false;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning().noquote() << program << p.readAll();
        return false;
    }
    return true;
}

// image converted by the ffmpeg tool into format (its muxer name).
QByteArray ffmpegPicture(const QImage& image, const char* format)
{
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.png"));
    const QString out = dir.filePath(QStringLiteral("out.") + QLatin1String(format));
    if (!image.save(in, "PNG") ||
        !run(QStringLiteral("ffmpeg"), {QStringLiteral("-v"), QStringLiteral("error"),
                                        QStringLiteral("-i"), in, QStringLiteral("-frames:v"),
                                        QStringLiteral("1"), out}))
        return {};
    QFile file(out);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QString TestPictureReader::write(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

void TestPictureReader::initTestCase()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestPictureReader::orientation_data()
{
    QTest::addColumn<bool>("heic");
    QTest::addColumn<int>("exifOrientation");
    QTest::addColumn<QSize>("fit");
    QTest::addColumn<QSize>("shown");
    QTest::addColumn<int>("green"); // Corner
    QTest::addColumn<int>("red");

    // Stored pixels are 240 x 160 with green top-left and red top-right.
    const QSize none;
    for (bool heic : {true, false}) {
        const char* kind = heic ? "heic" : "jpeg";
        auto row = [&](const char* what, int o, QSize fit, QSize shown, Corner g, Corner r) {
            QTest::addRow("%s %s", kind, what) << heic << o << fit << shown << int(g) << int(r);
        };
        row("upright", 1, none, {240, 160}, TopLeft, TopRight);
        row("turned 180", 3, none, {240, 160}, BottomRight, BottomLeft);
        row("turned 90 cw", 6, none, {160, 240}, TopRight, BottomRight);
        row("turned 270 cw", 8, none, {160, 240}, BottomLeft, TopLeft);
        row("turned 90 cw, fit", 6, {100, 100}, {66, 100}, TopRight, BottomRight);
        row("upright, fit", 1, {120, 120}, {120, 80}, TopLeft, TopRight);
        row("fit larger than picture", 1, {1000, 1000}, {240, 160}, TopLeft, TopRight);
    }
}

void TestPictureReader::orientation()
{
    QFETCH(bool, heic);
    QFETCH(int, exifOrientation);
    QFETCH(QSize, fit);
    QFETCH(QSize, shown);
    QFETCH(int, green);
    QFETCH(int, red);

    const QImage source = media::markedPicture(240, 160, QStringLiteral("turn"));
    // The HEIC carries the turn twice, in irot and in EXIF, as phones write it; applying both
    // would turn it twice.
    const QByteArray bytes = heic ? media::heicPicture(source, exifOrientation, 0, 80)
                                  : media::withExifOrientation(encode(source, "JPEG"),
                                                               exifOrientation);
    const QString path = write(QStringLiteral("turn-%1-%2").arg(heic).arg(exifOrientation), bytes);

    QString error;
    const QImage image = readPicture(path, fit, &error);
    QVERIFY2(!image.isNull(), qPrintable(error));
    QCOMPARE(image.size(), shown);
    QVERIFY2(isGreen(cornerColour(image, Corner(green))),
             qPrintable(cornerColour(image, Corner(green)).name()));
    QVERIFY2(isRed(cornerColour(image, Corner(red))),
             qPrintable(cornerColour(image, Corner(red)).name()));
}

void TestPictureReader::heifEncFileAndThumbnail()
{
    // heif-enc, the command-line encoder, is an independent producer of HEIC files.
    const QString png =
        write(QStringLiteral("enc.png"),
              encode(media::markedPicture(640, 480, QStringLiteral("enc")), "PNG"));
    const QString heic = m_dir->filePath(QStringLiteral("IMG_ENC"));
    QVERIFY(run(QStringLiteral("heif-enc"),
                {QStringLiteral("-q"), QStringLiteral("60"), QStringLiteral("-t"),
                 QStringLiteral("160"), png, QStringLiteral("-o"), heic + ".heic"}));
    QVERIFY(QFile::rename(heic + ".heic", heic)); // stored copies have no extension

    QFile file(heic);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(isHeifContent(file.read(64)));

    QString error;
    const QImage full = readPicture(heic, {}, &error);
    QVERIFY2(!full.isNull(), qPrintable(error));
    QCOMPARE(full.size(), QSize(640, 480));
    QVERIFY(isGreen(cornerColour(full, TopLeft)));

    // The stored 160 x 120 thumbnail covers a 100 x 100 cell; a 400 x 400 cell needs the photo.
    const QImage small = readThumbnail(heic, {100, 100}, &error);
    QVERIFY2(!small.isNull(), qPrintable(error));
    QCOMPARE(small.size(), QSize(100, 75));
    QVERIFY(isGreen(cornerColour(small, TopLeft)));
    QVERIFY(isRed(cornerColour(small, TopRight)));
    QCOMPARE(readThumbnail(heic, {400, 400}, &error).size(), QSize(400, 300));
}

void TestPictureReader::jpegExifThumbnail_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("thumbnailSize");
    QTest::addColumn<bool>("used");
    QTest::addColumn<QSize>("shown");
    QTest::newRow("upright") << 1 << QSize(160, 120) << true << QSize(160, 120);
    QTest::newRow("turned 90 cw") << 6 << QSize(160, 120) << true << QSize(120, 160);
    QTest::newRow("too small for the cell") << 1 << QSize(80, 60) << false << QSize(160, 120);
    QTest::newRow("another shape") << 1 << QSize(160, 160) << false << QSize(160, 120);
}

void TestPictureReader::jpegExifThumbnail()
{
    QFETCH(int, orientation);
    QFETCH(QSize, thumbnailSize);
    QFETCH(bool, used);
    QFETCH(QSize, shown);
    // The stored copy is blue all over, so it tells itself from the photo.
    QImage blue(thumbnailSize, QImage::Format_RGB32);
    blue.fill(QColor(0, 0, 230));
    const QByteArray bytes = media::withExifOrientation(
        encode(media::markedPicture(1600, 1200, QStringLiteral("exif")), "JPEG"), orientation,
        encode(blue, "JPEG"));
    const QString path = write(QStringLiteral("exif-thumb"), bytes);

    QString error;
    const QImage thumb = readThumbnail(path, {160, 160}, &error);
    QVERIFY2(!thumb.isNull(), qPrintable(error));
    QCOMPARE(thumb.size(), shown);
    const QColor middle = thumb.pixelColor(thumb.width() / 2, thumb.height() / 2);
    QCOMPARE(middle.blue() > 180 && middle.red() < 60, used);
    // The picture itself never comes from the small copy.
    const QImage picture = readPicture(path, {160, 160}, &error);
    QCOMPARE(picture.size(), shown);
    QVERIFY(isGreen(cornerColour(picture, orientation == 6 ? TopRight : TopLeft)));

    // Cut anywhere in the EXIF block, the file must fail or show, never read beyond its bytes.
    for (qsizetype cut = 4; cut < 220; cut += 3) {
        const QString part = write(QStringLiteral("exif-cut"), bytes.left(cut));
        QString partError;
        if (readThumbnail(part, {160, 160}, &partError).isNull())
            QVERIFY(!partError.isEmpty());
    }
}

void TestPictureReader::contentNotName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("heif");

    const QImage image = media::markedPicture(48, 32, QStringLiteral("name"));
    QTest::newRow("HEIC without extension") << "a1b2c3" << media::heicPicture(image) << true;
    QTest::newRow("HEIC named .JPG") << "IMG_1.JPG" << media::heicPicture(image) << true;
    QTest::newRow("JPEG named .HEIC") << "IMG_2.HEIC" << encode(image, "JPEG") << false;
    QTest::newRow("PNG without extension") << "d4e5f6" << encode(image, "PNG") << false;
    // Qt writes no GIF; both made by the ffmpeg tool.
    QTest::newRow("WebP") << "w" << ffmpegPicture(image, "webp") << false;
    QTest::newRow("GIF") << "g" << ffmpegPicture(image, "gif") << false;
}

void TestPictureReader::contentNotName()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, heif);
    QVERIFY2(!bytes.isEmpty(), "the encoder is missing");
    QCOMPARE(isHeifContent(bytes.left(64)), heif);
    QString error;
    const QImage image = readPicture(write(name, bytes), {}, &error);
    QVERIFY2(!image.isNull(), qPrintable(error));
    QCOMPARE(image.size(), QSize(48, 32));
}

void TestPictureReader::brokenFilesFail_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray heic =
        media::heicPicture(media::markedPicture(64, 64, QStringLiteral("cut")), 6, 32);
    const QByteArray jpeg = encode(media::markedPicture(64, 64, QStringLiteral("cut")), "JPEG");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("HEIC cut in its header") << heic.left(heic.size() / 4);
    QTest::newRow("HEIC cut in its pixels") << heic.left(heic.size() - 40);
    QTest::newRow("only a file-type box") << QByteArray("\0\0\0\x18"
                                                        "ftypheic\0\0\0\0mif1heic",
                                                        24);
    QTest::newRow("JPEG header only") << jpeg.left(20);
    QTest::newRow("text") << QByteArray("not a picture at all");
}

void TestPictureReader::brokenFilesFail()
{
    QFETCH(QByteArray, bytes);
    const QString path = write(QStringLiteral("broken"), bytes);
    QString error;
    const QImage image = readPicture(path, {200, 200}, &error);
    // A picture cut in its pixels may still come out partly grey; what must not happen is a
    // crash, or a failure without a reason.
    if (image.isNull())
        QVERIFY(!error.isEmpty());
    QString missing;
    QVERIFY(readPicture(m_dir->filePath(QStringLiteral("absent")), {}, &missing).isNull());
    QVERIFY(!missing.isEmpty());
}

void TestPictureReader::largeJpegOpensScaled()
{
    // An iPhone 14 Pro's 48-megapixel photo: 8064 x 6048, 195 MB as RGBA, beyond Qt's default
    // allocation limit of 128 MB.
    const QString path = m_dir->filePath(QStringLiteral("IMG_48MP.JPG"));
    QVERIFY(run(QStringLiteral("ffmpeg"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"),
                 QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                 QStringLiteral("testsrc2=size=8064x6048"), QStringLiteral("-frames:v"),
                 QStringLiteral("1"), QStringLiteral("-q:v"), QStringLiteral("5"), path}));
    const QSize stored = QImageReader(path).size();
    QCOMPARE(stored, QSize(8064, 6048));
    QVERIFY(qint64(stored.width()) * stored.height() * 4 > 128 * 1024 * 1024);

    QString error;
    const QImage shown = readPicture(path, {1280, 1024}, &error);
    QVERIFY2(!shown.isNull(), qPrintable(error));
    QCOMPARE(shown.size(), QSize(1280, 960));

    // Saving wants every pixel.
    const QString copy = m_dir->filePath(QStringLiteral("copy48.jpg"));
    QVERIFY2(writeJpegCopy(path, copy, &error), qPrintable(error));
    QImageReader written(copy);
    QCOMPARE(written.size(), QSize(8064, 6048));
}

void TestPictureReader::jpegCopy()
{
    const QString heic = write(
        QStringLiteral("turned.heic"),
        media::heicPicture(media::markedPicture(240, 160, QStringLiteral("copy")), 6, 0, 80));
    const QString jpeg = m_dir->filePath(QStringLiteral("turned.jpg"));
    QString error;
    QVERIFY2(writeJpegCopy(heic, jpeg, &error), qPrintable(error));

    // The copy holds the turned pixels and no orientation tag, so every viewer shows it upright.
    QImageReader reader(jpeg);
    QCOMPARE(reader.format(), QByteArray("jpeg"));
    QCOMPARE(reader.transformation(), QImageIOHandler::TransformationNone);
    const QImage image = readPicture(jpeg, {}, &error);
    QCOMPARE(image.size(), QSize(160, 240));
    QVERIFY(isGreen(cornerColour(image, TopRight)));
    QVERIFY(isRed(cornerColour(image, BottomRight)));

    // A failed read leaves an existing target as it was.
    QVERIFY(!writeJpegCopy(m_dir->filePath(QStringLiteral("absent")), jpeg, &error));
    QCOMPARE(QImageReader(jpeg).size(), QSize(160, 240));
}

void TestPictureReader::parallelReads()
{
    const QString heic = write(
        QStringLiteral("parallel.heic"),
        media::heicPicture(media::markedPicture(320, 240, QStringLiteral("parallel")), 8, 0, 70));
    std::vector<QImage> images(8);
    std::vector<std::thread> threads;
    for (QImage& image : images)
        threads.emplace_back([&image, &heic] { image = readPicture(heic, QSize(120, 120)); });
    for (std::thread& t : threads)
        t.join();
    for (const QImage& image : images) {
        QCOMPARE(image.size(), QSize(90, 120));
        QCOMPARE(image, images.front());
    }
}

QTEST_GUILESS_MAIN(TestPictureReader)
#include "tst_picturereader.moc"
