#include "player/AVView.h"

#include <cmath>

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
