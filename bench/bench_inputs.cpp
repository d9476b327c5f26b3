// Pictures a player delivers from the bitmap and screen inputs, and the CPU it spends on them.
// The screen input needs an X display: xvfb-run -a -s "-screen 0 1280x1024x24" bench_inputs
#include "player/AVPlayer.h"
#include "player/HostInputs.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPainter>

#include <sys/resource.h>

#include <cstdio>
#include <thread>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Opens the input and takes every picture for a few seconds, as a display would.
void film(const char* label, const QString& inputFormat, const QString& name,
          const std::function<void(int)>& onPicture = {})
{
    TAVPlayer player;
    player.setOutputEnabled(false);
    player.setInputFormat(inputFormat);
    try {
        player.OpenMovie(name, false, true);
    } catch (const std::exception& e) {
        std::printf("%-28s could not open: %s\n", label, e.what());
        return;
    }
    constexpr double kSeconds = 4.0;
    const double cpu0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    int pictures = 0;
    while (t.elapsed() < kSeconds * 1000) {
        TFrameQueue* q = player.PictureQueue();
        if (q->peek_readable(false)) {
            q->next();
            ++pictures;
            if (onPicture)
                onPicture(pictures);
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    const double elapsed = t.elapsed() / 1000.0;
    const double cpu = cpuSeconds() - cpu0;
    player.CloseMovie();
    std::printf("%-28s %6.2f pictures/s  CPU %5.3f s per second\n", label, pictures / elapsed,
                cpu / elapsed);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::printf("%s", "input                        delivered           CPU (whole process)\n");

    TAVBitmapInput bitmap(1280, 720);
    // The host draws something new for every picture it takes.
    film("bmpcap 1280x720", TAVBitmapInput::InputFormat(), bitmap.DeviceName(), [&](int n) {
        bitmap.Draw([n](QImage& image) { image.fill(QColor::fromHsv(n % 360, 255, 255)); });
    });

    QImage still(1280, 720, QImage::Format_RGB32);
    still.fill(Qt::darkCyan);
    TAVBitmapCallbackInput callback(still, [](QImage&, bool& ready) { ready = true; });
    film("bmpcap2 1280x720", TAVBitmapCallbackInput::InputFormat(), callback.DeviceName());

    for (const QRect area : {QRect(0, 0, 640, 480), QRect(0, 0, 1280, 1024)}) {
        TAVScreenInput screen(area);
        const QByteArray label =
            QStringLiteral("gdi2 %1x%2").arg(area.width()).arg(area.height()).toUtf8();
        film(label.constData(), TAVScreenInput::InputFormat(), screen.DeviceName());
    }
    return 0;
}
