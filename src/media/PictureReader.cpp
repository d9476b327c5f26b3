#include "media/PictureReader.h"

#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QSaveFile>
#include <QTransform>
#include <QtEndian>

#include <libheif/heif.h>

#include <memory>
#include <optional>

namespace {

// A full-size picture may need this much memory (a 48-megapixel photo takes 195 MB as RGBA);
// beyond it a file is taken for hostile rather than a photo.
constexpr int kFullSizeLimitMb = 768;
constexpr qint64 kMaxPixels = qint64(kFullSizeLimitMb) * 1024 * 1024 / 4;
constexpr int kMaxHeifSide = 32768;
constexpr int kJpegQuality = 92;

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

// Qt's limit is one for the whole process (128 MB by default, too small for a 48-megapixel
// photo at full size, which saving needs); raised once, before any picture is read.
void raiseQtAllocationLimit()
{
    static const bool done = [] {
        QImageReader::setAllocationLimit(std::max(QImageReader::allocationLimit(),
                                                  kFullSizeLimitMb));
        return true;
    }();
    Q_UNUSED(done);
}

// libheif is set up once per process (its decoder plugins); never torn down, as decoding may
// run on pool threads up to the end.
void initHeif()
{
    static const bool done = [] {
        heif_init(nullptr);
        return true;
    }();
    Q_UNUSED(done);
}

struct HeifContextFree
{
    void operator()(heif_context* p) const { heif_context_free(p); }
};
struct HeifHandleFree
{
    void operator()(heif_image_handle* p) const { heif_image_handle_release(p); }
};
struct HeifImageFree
{
    void operator()(heif_image* p) const { heif_image_release(p); }
};
struct HeifOptionsFree
{
    void operator()(heif_decoding_options* p) const { heif_decoding_options_free(p); }
};
using HeifContextPtr = std::unique_ptr<heif_context, HeifContextFree>;
using HeifHandlePtr = std::unique_ptr<heif_image_handle, HeifHandleFree>;
using HeifImagePtr = std::unique_ptr<heif_image, HeifImageFree>;

bool failed(const heif_error& err, QString* error)
{
    if (err.code == heif_error_Ok)
        return false;
    setError(error, QString::fromUtf8(err.message ? err.message : "HEIF failure"));
    return true;
}

// The size a picture of size shown takes within fit: smaller only, never larger.
QSize fittedSize(QSize shown, QSize fit)
{
    if (!fit.isValid() || fit.isEmpty() || !shown.isValid())
        return shown;
    if (shown.width() <= fit.width() && shown.height() <= fit.height())
        return shown;
    return shown.scaled(fit, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

QByteArray firstBytes(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, file.errorString());
        return {};
    }
    return file.read(64);
}

// Decodes one image item to RGB(A), its transformations (rotation, mirroring, crop) applied
// by libheif. The QImage shares libheif's buffer until its last copy goes.
QImage decodeHeifHandle(heif_image_handle* handle, QString* error)
{
    const int w = heif_image_handle_get_width(handle);
    const int h = heif_image_handle_get_height(handle);
    if (w <= 0 || h <= 0 || qint64(w) * h > kMaxPixels) {
        setError(error, QStringLiteral("picture size %1 x %2 out of range").arg(w).arg(h));
        return {};
    }
    const bool alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    std::unique_ptr<heif_decoding_options, HeifOptionsFree> options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    heif_image* raw = nullptr;
    if (failed(heif_decode_image(handle, &raw, heif_colorspace_RGB,
                                 alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                                 options.get()),
               error))
        return {};
    HeifImagePtr decoded(raw);
    int stride = 0;
    const uint8_t* data = heif_image_get_plane_readonly(decoded.get(), heif_channel_interleaved,
                                                        &stride);
    const int iw = heif_image_get_width(decoded.get(), heif_channel_interleaved);
    const int ih = heif_image_get_height(decoded.get(), heif_channel_interleaved);
    if (!data || iw <= 0 || ih <= 0 || stride < iw * (alpha ? 4 : 3)) {
        setError(error, QStringLiteral("HEIF picture without pixels"));
        return {};
    }
    // Ownership of the decoded image passes to the QImage's cleanup function.
    heif_image* owned = decoded.release();
    return QImage(
        data, iw, ih, stride, alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888,
        [](void* p) { heif_image_release(static_cast<heif_image*>(p)); }, owned);
}

// thumbnail: use the item's stored thumbnail when it covers fit.
QImage readHeif(const QString& path, QSize fit, bool thumbnail, QString* error)
{
    initHeif();
    HeifContextPtr ctx(heif_context_alloc());
    if (!ctx) {
        setError(error, QStringLiteral("out of memory"));
        return {};
    }
    heif_context_set_maximum_image_size_limit(ctx.get(), kMaxHeifSide);
    if (failed(heif_context_read_from_file(ctx.get(), QFile::encodeName(path).constData(), nullptr),
               error))
        return {};
    heif_image_handle* rawHandle = nullptr;
    if (failed(heif_context_get_primary_image_handle(ctx.get(), &rawHandle), error))
        return {};
    HeifHandlePtr primary(rawHandle);

    HeifHandlePtr chosen;
    if (thumbnail && fit.isValid()) {
        const int count = heif_image_handle_get_number_of_thumbnails(primary.get());
        std::vector<heif_item_id> ids(size_t(std::clamp(count, 0, 16)));
        const int listed = ids.empty() ? 0
                                       : heif_image_handle_get_list_of_thumbnail_IDs(
                                             primary.get(), ids.data(), int(ids.size()));
        for (int i = 0; i < listed; ++i) {
            heif_image_handle* thumb = nullptr;
            if (heif_image_handle_get_thumbnail(primary.get(), ids[size_t(i)], &thumb).code !=
                heif_error_Ok)
                continue;
            HeifHandlePtr candidate(thumb);
            const QSize size(heif_image_handle_get_width(thumb),
                             heif_image_handle_get_height(thumb));
            // A thumbnail turned otherwise than the photo lacks the photo's rotation.
            const bool samePose = (size.width() >= size.height()) ==
                                  (heif_image_handle_get_width(primary.get()) >=
                                   heif_image_handle_get_height(primary.get()));
            if (samePose && (size.width() >= fit.width() || size.height() >= fit.height())) {
                if (!chosen || heif_image_handle_get_width(chosen.get()) > size.width())
                    chosen = std::move(candidate);
            }
        }
    }
    QImage image = decodeHeifHandle(chosen ? chosen.get() : primary.get(), error);
    if (image.isNull())
        return {};
    const QSize target = fittedSize(image.size(), fit);
    if (target != image.size())
        return image.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

// JPEG files from cameras carry a small copy of the picture in their EXIF block (APP1: a TIFF
// structure whose second IFD points at a JPEG stream by tags 0x0201 offset and 0x0202 length,
// both from the TIFF header); the first IFD's tag 0x0112 holds the orientation, which applies
// to the small copy too. Every offset is checked against the block.
struct ExifThumbnail
{
    QByteArray jpeg;
    int orientation = 1;
};

std::optional<ExifThumbnail> exifThumbnail(const QByteArray& head)
{
    auto u8 = [&head](qsizetype at) { return quint8(head[at]); };
    // The APP1 segment, among the segments before the image data.
    qsizetype at = 2;
    QByteArray tiff;
    while (at + 4 <= head.size() && u8(at) == 0xFF) {
        const quint8 marker = u8(at + 1);
        if (marker == 0xDA || marker == 0xD9)
            break;
        const int length = (u8(at + 2) << 8) | u8(at + 3);
        if (length < 2)
            break;
        if (marker == 0xE1 && at + 2 + length <= head.size() &&
            head.mid(at + 4, 6) == QByteArray("Exif\0\0", 6)) {
            tiff = head.mid(at + 10, length - 8);
            break;
        }
        at += 2 + length;
    }
    if (tiff.size() < 8)
        return std::nullopt;
    const bool little = tiff.startsWith("II");
    if (!little && !tiff.startsWith("MM"))
        return std::nullopt;
    const auto* bytes = reinterpret_cast<const uchar*>(tiff.constData());
    const qsizetype size = tiff.size();
    auto u16 = [&](qint64 off) -> qint64 {
        if (off < 0 || off + 2 > size)
            return -1;
        return little ? qFromLittleEndian<quint16>(bytes + off) : qFromBigEndian<quint16>(bytes + off);
    };
    auto u32 = [&](qint64 off) -> qint64 {
        if (off < 0 || off + 4 > size)
            return -1;
        return little ? qFromLittleEndian<quint32>(bytes + off) : qFromBigEndian<quint32>(bytes + off);
    };
    ExifThumbnail result;
    // IFD0: the orientation, and the offset of IFD1.
    const qint64 ifd0 = u32(4);
    const qint64 count0 = u16(ifd0);
    if (count0 < 0 || count0 > 512)
        return std::nullopt;
    for (qint64 i = 0; i < count0; ++i) {
        const qint64 entry = ifd0 + 2 + i * 12;
        if (u16(entry) == 0x0112 && u16(entry + 2) == 3) {
            const qint64 value = u16(entry + 8);
            if (value >= 1 && value <= 8)
                result.orientation = int(value);
        }
    }
    const qint64 ifd1 = u32(ifd0 + 2 + count0 * 12);
    const qint64 count1 = ifd1 > 0 ? u16(ifd1) : -1;
    if (count1 < 0 || count1 > 512)
        return std::nullopt;
    qint64 offset = -1;
    qint64 length = -1;
    for (qint64 i = 0; i < count1; ++i) {
        const qint64 entry = ifd1 + 2 + i * 12;
        const qint64 tag = u16(entry);
        if (tag == 0x0201)
            offset = u32(entry + 8);
        else if (tag == 0x0202)
            length = u32(entry + 8);
    }
    if (offset <= 0 || length <= 0 || offset + length > size)
        return std::nullopt;
    result.jpeg = tiff.mid(offset, length);
    return result;
}

// Turns image as EXIF orientation says (1 to 8).
QImage oriented(QImage image, int orientation)
{
    switch (orientation) {
    case 2: return image.mirrored(true, false);
    case 3: return image.mirrored(true, true);
    case 4: return image.mirrored(false, true);
    case 5: return image.mirrored(false, true).transformed(QTransform().rotate(90));
    case 6: return image.transformed(QTransform().rotate(90));
    case 7: return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8: return image.transformed(QTransform().rotate(270));
    default: return image;
    }
}

// The EXIF thumbnail of a JPEG file when it covers fit and shows the picture's shape.
QImage jpegExifThumbnail(const QString& path, QSize fit, QSize stored)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(70 * 1024); // an APP1 segment holds at most 64 KB
    if (!head.startsWith("\xff\xd8"))
        return {};
    const std::optional<ExifThumbnail> exif = exifThumbnail(head);
    if (!exif)
        return {};
    QImage small = QImage::fromData(exif->jpeg, "JPEG");
    if (small.isNull() || (small.width() < fit.width() && small.height() < fit.height()))
        return {};
    // A copy of another shape (cropped, or of another picture) would mislead.
    if (stored.isValid() && std::abs(double(small.width()) / small.height() -
                                     double(stored.width()) / stored.height()) > 0.05)
        return {};
    small = oriented(std::move(small), exif->orientation);
    const QSize target = fittedSize(small.size(), fit);
    return target == small.size()
               ? small
               : small.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

QImage readWithQt(const QString& path, QSize fit, bool thumbnail, QString* error)
{
    raiseQtAllocationLimit();
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (stored.isValid() && qint64(stored.width()) * stored.height() > kMaxPixels) {
        setError(error, QStringLiteral("picture size %1 x %2 out of range")
                            .arg(stored.width())
                            .arg(stored.height()));
        return {};
    }
    if (fit.isValid() && stored.isValid()) {
        // The scaled size applies to the stored pixels, before the EXIF turn.
        const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
        const QSize shown = turned ? stored.transposed() : stored;
        const QSize target = fittedSize(shown, fit);
        if (target != shown)
            reader.setScaledSize(turned ? target.transposed() : target);
        if (thumbnail && reader.format() == "jpeg") {
            // Decoding a 12-megapixel JPEG takes tens of milliseconds even scaled down.
            QImage small = jpegExifThumbnail(path, fit, stored);
            if (!small.isNull())
                return small;
            reader.setQuality(25); // the fast scaling path
        }
    }
    QImage image = reader.read();
    if (image.isNull()) {
        setError(error, reader.errorString());
        return {};
    }
    // Formats without size in their header are scaled after reading.
    const QSize target = fittedSize(image.size(), fit);
    if (target != image.size())
        image = image.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

QImage read(const QString& path, QSize fit, bool thumbnail, QString* error)
{
    const QByteArray head = firstBytes(path, error);
    if (head.isEmpty()) {
        if (error && error->isEmpty())
            *error = QStringLiteral("empty file");
        return {};
    }
    if (isHeifContent(head))
        return readHeif(path, fit, thumbnail, error);
    return readWithQt(path, fit, thumbnail, error);
}

} // namespace

bool isHeifContent(QByteArrayView firstBytes)
{
    if (firstBytes.size() < 12 || firstBytes.sliced(4, 4) != QByteArrayView("ftyp"))
        return false;
    const heif_filetype_result kind = heif_check_filetype(
        reinterpret_cast<const uint8_t*>(firstBytes.data()), int(firstBytes.size()));
    return kind == heif_filetype_yes_supported || kind == heif_filetype_maybe;
}

QImage readPicture(const QString& path, QSize fit, QString* error)
{
    return read(path, fit, false, error);
}

QImage readThumbnail(const QString& path, QSize fit, QString* error)
{
    return read(path, fit, true, error);
}

bool writeJpegCopy(const QString& source, const QString& target, QString* error)
{
    QImage image = readPicture(source, {}, error);
    if (image.isNull())
        return false;
    if (image.hasAlphaChannel()) {
        // JPEG has no transparency: show it over white, as viewers do.
        QImage flat(image.size(), QImage::Format_RGB32);
        flat.fill(Qt::white);
        QPainter(&flat).drawImage(0, 0, image);
        image = std::move(flat);
    }
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        setError(error, file.errorString());
        return false;
    }
    QImageWriter writer(&file, "jpeg");
    writer.setQuality(kJpegQuality);
    if (!writer.write(image)) {
        setError(error, writer.errorString());
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        setError(error, file.errorString());
        return false;
    }
    return true;
}
