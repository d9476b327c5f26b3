#include "CurrentPhotos.h"

#include "MediaData.h"
#include "SampleBackup.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QPainter>
#include <QTemporaryDir>
#include <QtEndian>

#include <libheif/heif.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace media {

namespace {

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}

void check(const heif_error& err, const char* what)
{
    if (err.code != heif_error_Ok)
        fail(QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromUtf8(err.message)));
}

struct HeifFree
{
    void operator()(heif_context* p) const { heif_context_free(p); }
    void operator()(heif_encoder* p) const { heif_encoder_release(p); }
    void operator()(heif_image* p) const { heif_image_release(p); }
    void operator()(heif_image_handle* p) const { heif_image_handle_release(p); }
    void operator()(heif_encoding_options* p) const { heif_encoding_options_free(p); }
};
template <typename T>
using HeifPtr = std::unique_ptr<T, HeifFree>;

// A TIFF block (big-endian): IFD0 with the Orientation tag, and, with a thumbnail, IFD1
// pointing at it (compression 6: JPEG).
QByteArray tiffBlock(int orientation, const QByteArray& thumbnail = {})
{
    QByteArray t("MM\0\x2a\0\0\0\x08", 8);
    auto u16 = [&t](quint16 v) {
        char b[2];
        qToBigEndian(v, b);
        t.append(b, 2);
    };
    auto u32 = [&t](quint32 v) {
        char b[4];
        qToBigEndian(v, b);
        t.append(b, 4);
    };
    u16(1);      // one entry
    u16(0x0112); // Orientation
    u16(3);      // SHORT
    u32(1);
    u16(quint16(orientation));
    u16(0);
    if (thumbnail.isEmpty()) {
        u32(0); // no next IFD
        return t;
    }
    u32(26); // IFD1 right after
    u16(3);
    u16(0x0103); // Compression: JPEG
    u16(3);
    u32(1);
    u16(6);
    u16(0);
    u16(0x0201); // JPEGInterchangeFormat
    u16(4);
    u32(1);
    u32(68);
    u16(0x0202); // JPEGInterchangeFormatLength
    u16(4);
    u32(1);
    u32(quint32(thumbnail.size()));
    u32(0);
    return t + thumbnail;
}

} // namespace

QImage markedPicture(int w, int h, const QString& label)
{
    QImage image(w, h, QImage::Format_RGB32);
    const uint hue = uint(qHash(label)) % 360;
    image.fill(QColor::fromHsv(int(hue), 60, 200));
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromHsv(int((hue + 180) % 360), 200, 160));
    painter.drawEllipse(QPoint(w / 2, h / 2), w / 5, h / 5);
    const int side = std::min(w, h) / 4;
    painter.fillRect(0, 0, side, side, QColor(0, 200, 0));
    painter.fillRect(w - side, 0, side, side, QColor(220, 0, 0));
    return image;
}

QByteArray heicPicture(const QImage& picture, int orientation, int thumbnailSide, int quality)
{
    static const bool initialised = [] {
        heif_init(nullptr);
        return true;
    }();
    Q_UNUSED(initialised);
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    HeifPtr<heif_context> ctx(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    check(heif_context_get_encoder_for_format(ctx.get(), heif_compression_HEVC, &rawEncoder),
          "no HEVC encoder in libheif");
    HeifPtr<heif_encoder> encoder(rawEncoder);
    check(heif_encoder_set_lossy_quality(encoder.get(), quality), "encoder quality");

    heif_image* rawImage = nullptr;
    check(heif_image_create(rgb.width(), rgb.height(), heif_colorspace_RGB,
                            heif_chroma_interleaved_RGB, &rawImage),
          "heif image");
    HeifPtr<heif_image> image(rawImage);
    check(heif_image_add_plane(image.get(), heif_channel_interleaved, rgb.width(), rgb.height(), 8),
          "heif plane");
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(plane + qsizetype(y) * stride, rgb.constScanLine(y), size_t(rgb.width()) * 3);

    HeifPtr<heif_encoding_options> options(heif_encoding_options_alloc());
    options->image_orientation = heif_orientation(std::clamp(orientation, 1, 8));
    heif_image_handle* rawHandle = nullptr;
    check(heif_context_encode_image(ctx.get(), image.get(), encoder.get(), options.get(),
                                    &rawHandle),
          "HEIC encoding");
    HeifPtr<heif_image_handle> handle(rawHandle);
    if (thumbnailSide > 0) {
        heif_image_handle* thumb = nullptr;
        check(heif_context_encode_thumbnail(ctx.get(), image.get(), handle.get(), encoder.get(),
                                            options.get(), thumbnailSide, &thumb),
              "HEIC thumbnail");
        if (thumb)
            heif_image_handle_release(thumb);
    }
    if (orientation != 1) {
        const QByteArray exif = tiffBlock(orientation);
        check(heif_context_add_exif_metadata(ctx.get(), handle.get(), exif.constData(),
                                             int(exif.size())),
              "HEIC Exif");
    }

    QByteArray bytes;
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, size_t size, void* user) {
        static_cast<QByteArray*>(user)->append(static_cast<const char*>(data), qsizetype(size));
        return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
    };
    check(heif_context_write(ctx.get(), &writer, &bytes), "HEIC writing");
    return bytes;
}

QByteArray withExifOrientation(const QByteArray& jpeg, int orientation, const QByteArray& thumbnail)
{
    if (!jpeg.startsWith("\xff\xd8"))
        fail(QStringLiteral("not a JPEG"));
    const QByteArray app1 = QByteArray("Exif\0\0", 6) + tiffBlock(orientation, thumbnail);
    QByteArray segment("\xff\xe1");
    char len[2];
    qToBigEndian(quint16(app1.size() + 2), len);
    segment.append(len, 2).append(app1);
    return jpeg.left(2) + segment + jpeg.mid(2);
}

QByteArray hevcClip(double seconds)
{
    return runFfmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                      QStringLiteral("testsrc=duration=%1:size=320x240:rate=15").arg(seconds),
                      QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                      QStringLiteral("sine=frequency=523:duration=%1").arg(seconds),
                      QStringLiteral("-c:v"), QStringLiteral("libx265"), QStringLiteral("-preset"),
                      QStringLiteral("ultrafast"), QStringLiteral("-x265-params"),
                      QStringLiteral("log-level=error"), QStringLiteral("-tag:v"),
                      QStringLiteral("hvc1"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"),
                      QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-shortest"),
                      QStringLiteral("-f"), QStringLiteral("mov")},
                     QStringLiteral("mov"));
}

void addCurrentCameraRoll(SampleBackup& backup)
{
    // The filler's camera files hold placeholder bytes; make them pictures that open.
    const QByteArray small = picture(160, 120, "JPEG", QStringLiteral("filler"));
    for (SampleBackup::Entry& e : backup.entries())
        if (e.kind == SampleBackup::File && e.path.startsWith(QLatin1String("Media/DCIM/")) &&
            e.path.endsWith(QLatin1String(".JPG")))
            e.content = small;
    const QString d = QLatin1String(kCameraDomain);
    const QString a = QStringLiteral("Media/DCIM/100APPLE/");
    // Phones store the sensor's landscape pixels and turn portrait shots by irot.
    backup.addFile(d, a + "IMG_0101.HEIC",
                   heicPicture(markedPicture(800, 600, QStringLiteral("IMG_0101")), 1, 320));
    backup.addFile(d, a + "IMG_0102.HEIC",
                   heicPicture(markedPicture(800, 600, QStringLiteral("IMG_0102")), 6, 320));
    backup.addFile(d, a + "IMG_0103.HEIC",
                   heicPicture(markedPicture(800, 600, QStringLiteral("IMG_0103")), 1, 320));
    backup.addFile(d, a + "IMG_0103.MOV", hevcClip(1.5));
    backup.addFile(d, a + "IMG_0104.MOV", hevcClip(2));
    backup.addFile(d, a + "IMG_0105.JPG", picture(640, 480, "JPEG", QStringLiteral("IMG_0105")));
}

} // namespace media
