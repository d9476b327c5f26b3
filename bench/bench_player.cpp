// Plays generated 720p30 and 1080p30 H.264/AAC clips headless through the player and a display
// and prints: pictures shown and dropped, the audio-video offset at each shown picture (its
// signed median as the bias, video ahead positive; the median and 95th percentile of its size), seek
// latency (request to the first picture near the target) and CPU seconds per media second
// against `ffmpeg -i clip -f null -` on the same clip.
// Run: build/bench/bench_player (SDL_AUDIODRIVER defaults to dummy, Qt to offscreen).
#include "player/AVPlayer.h"
#include "player/TAVView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

double cpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5))];
}

bool runFfmpeg(const QString& dir, const QStringList& args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.start(QStringLiteral("ffmpeg"), QStringList{"-y", "-v", "error"} + args);
    return p.waitForFinished(600000) && p.exitCode() == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("SDL_AUDIODRIVER"))
        qputenv("SDL_AUDIODRIVER", "dummy");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const int seconds = qEnvironmentVariableIntValue("BENCH_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("BENCH_SECONDS")
                            : 20;
    std::printf("%-6s %6s %7s %9s %9s %9s %9s %9s %8s %8s %6s\n", "clip", "shown", "dropped",
                "av bias", "av med ms", "av p95 ms", "seek med", "seek p95", "cpu/s", "ffmpeg/s", "ratio");
    for (auto [name, size] : {std::pair{"720p", "1280x720"}, {"1080p", "1920x1080"}}) {
        const QString file = QStringLiteral("%1.mp4").arg(name);
        if (!runFfmpeg(dir.path(),
                       {"-f", "lavfi", "-i",
                        QStringLiteral("testsrc2=size=%1:rate=30:duration=%2").arg(size).arg(seconds),
                        "-f", "lavfi", "-i", QStringLiteral("sine=duration=%1").arg(seconds),
                        "-c:v", "libx264", "-preset", "veryfast", "-g", "30", "-pix_fmt",
                        "yuv420p", "-c:a", "aac", file})) {
            std::printf("could not make %s\n", name);
            return 1;
        }
        const QString path = dir.filePath(file);

        TAVPlayer player;
        TAVView view;
        view.resize(640, 360);
        view.setPlayer(&player);
        std::vector<double> offsets, signedOffsets;
        double seekTarget = -1;
        bool seeking = false;
        QElapsedTimer seekTimer;
        std::vector<double> seekMs;
        QObject::connect(&player, &TAVPlayer::OnVideoDisplay, [&](TAVPlayer*, const AVFrame* f) {
            const double a = player.AudioClock(), v = player.VideoClock();
            // The offset of steady playing; the seeks below measure their own latency.
            if (!seeking && !std::isnan(a) && !std::isnan(v)) {
                offsets.push_back(std::fabs(v - a) * 1000);
                signedOffsets.push_back((v - a) * 1000);
            }
            if (seekTarget >= 0) {
                const double pts = f->pts * av_q2d(player.VideoCodecCtx()->pkt_timebase);
                if (std::fabs(pts - seekTarget) < 1.1) {
                    seekMs.push_back(seekTimer.nsecsElapsed() / 1e6);
                    seekTarget = -1;
                }
            }
        });
        const double cpu0 = cpuSeconds(RUSAGE_SELF);
        player.OpenMovie(path, false, true);
        QElapsedTimer t;
        t.start();
        while (player.Position() < player.Duration() - 0.05 && t.elapsed() < (seconds + 10) * 1000)
            QTest::qWait(20);
        const double cpu = (cpuSeconds(RUSAGE_SELF) - cpu0) / seconds;
        const int64_t shown = player.FramesShown();
        const int64_t dropped = player.FramesDropped();

        seeking = true;
        for (int i = 0; i < 20; ++i) {
            const double target = QRandomGenerator::global()->bounded(double(seconds - 2));
            seekTarget = target;
            seekTimer.start();
            player.setPosition(target);
            QElapsedTimer wait;
            wait.start();
            while (seekTarget >= 0 && wait.elapsed() < 3000)
                QTest::qWait(1);
            seekTarget = -1;
            QTest::qWait(150);
        }
        player.CloseMovie();

        const double f0 = cpuSeconds(RUSAGE_CHILDREN);
        runFfmpeg(dir.path(), {"-i", file, "-f", "null", "-"});
        const double ff = (cpuSeconds(RUSAGE_CHILDREN) - f0) / seconds;
        std::printf("%-6s %6lld %7lld %9.1f %9.1f %9.1f %9.1f %9.1f %8.3f %8.3f %6.2f\n", name,
                    (long long)shown, (long long)dropped, percentile(signedOffsets, 0.5),
                    percentile(offsets, 0.5),
                    percentile(offsets, 0.95), percentile(seekMs, 0.5), percentile(seekMs, 0.95),
                    cpu, ff, cpu / ff);
        std::fflush(stdout);
    }
    return 0;
}
