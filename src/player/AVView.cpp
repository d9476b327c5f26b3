#include "player/AVView.h"

#include "util/Error.h"

#include <cmath>
#include <cstring>

QRect FitRect(const QSize& control, const QSize& bitmap, AVRational sar)
{
    if (bitmap.isEmpty())
        return {};
    double aspect = sar.num == 0 ? 0.0 : av_q2d(sar);
    if (aspect <= 0)
        aspect = 1.0;
    aspect = aspect * bitmap.width() / bitmap.height();
    if (control.width() * control.height() == 0)
        return QRect(QPoint(0, 0), bitmap);
    // Rounding to nearest, halves to even (the default floating-point mode).
    int height = control.height();
    int width = int(std::nearbyint(height * aspect)) & ~1;
    if (width > control.width()) {
        width = control.width();
        height = int(std::nearbyint(width / aspect)) & ~1;
    }
    return QRect((control.width() - width) / 2, (control.height() - height) / 2, width, height);
}

QString FormatMediaTime(bool compact, double seconds)
{
    const int64_t w = int64_t(seconds);
    const int64_t h = w / 3600, m = (w / 60) % 60, s = w % 60;
    const int f = int((seconds - double(w)) * 1000);
    if (!compact)
        return QString::asprintf("%.2lld:%.2lld:%.2lld.%.2d", (long long)h, (long long)m,
                                 (long long)s, f);
    if (h > 0)
        return QString::asprintf("%.2lld:%.2lld:%.2lld", (long long)h, (long long)m, (long long)s);
    return QString::asprintf("%lld:%lld", (long long)m, (long long)s);
}

void CopyFrameToImage(const AVFrame* frame, int width, QImage& image)
{
    if (image.width() != width || image.height() != frame->height ||
        image.format() != QImage::Format_RGB32)
        image = QImage(width, frame->height, QImage::Format_RGB32);
    if (image.isNull() || !frame->data[0])
        return;
    const int pixels = std::min(frame->linesize[0] / 4, width);
    for (int y = 0; y < frame->height; ++y)
        std::memcpy(image.scanLine(y), frame->data[0] + y * frame->linesize[0], size_t(pixels) * 4);
}

void TAVBitmap::Create(uint8_t* ABuf, int VideoWidth, int VideoHeight)
{
    FBuffer = ABuf;
    FVideoWidth = VideoWidth;
    FVideoHeight = VideoHeight;
}

void TAVBitmap::CopyDataToBitmap(QImage& ABitmap) const
{
    if (ABitmap.width() != FVideoWidth || ABitmap.height() != FVideoHeight ||
        ABitmap.format() != QImage::Format_ARGB32)
        ABitmap = QImage(FVideoWidth, FVideoHeight, QImage::Format_ARGB32);
    if (ABitmap.isNull() || !FBuffer)
        return;
    const size_t row = size_t(FVideoWidth) * 4;
    if (size_t(ABitmap.bytesPerLine()) == row) {
        std::memcpy(ABitmap.bits(), FBuffer, row * size_t(FVideoHeight));
        return;
    }
    for (int y = 0; y < FVideoHeight; ++y)
        std::memcpy(ABitmap.scanLine(y), FBuffer + size_t(y) * row, row);
}

void TAVBitmap::CopyDataFromBitmap(const QImage& ABitmap) const
{
    if (ABitmap.width() != FVideoWidth)
        throw Error(QStringLiteral("Bitmap Width incorrect"));
    if (ABitmap.height() != FVideoHeight)
        throw Error(QStringLiteral("Bitmap Height incorrect"));
    if (!FBuffer)
        return;
    // ARGB32 holds BGRA bytes on this little-endian platform.
    const QImage source =
        ABitmap.format() == QImage::Format_ARGB32 || ABitmap.format() == QImage::Format_RGB32
            ? ABitmap
            : ABitmap.convertToFormat(QImage::Format_ARGB32);
    const size_t row = size_t(FVideoWidth) * 4;
    for (int y = 0; y < FVideoHeight; ++y)
        std::memcpy(FBuffer + size_t(y) * row, source.constScanLine(y), row);
}
