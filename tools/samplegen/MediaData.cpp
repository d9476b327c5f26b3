#include "MediaData.h"

#include "SampleBackup.h"

#include <QBuffer>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <stdexcept>

namespace media {

namespace {

[[noreturn]] void fail(const QString& message)
{
    throw std::runtime_error(message.toStdString());
}


} // namespace

QByteArray runFfmpeg(const QStringList& args, const QString& suffix)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out.") + suffix);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("ffmpeg"),
            QStringList{QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y")} +
                args + QStringList{out});
    if (!p.waitForStarted(-1))
        fail(QStringLiteral("cannot run ffmpeg: %1").arg(p.errorString()));
    p.waitForFinished(-1);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        fail(QStringLiteral("ffmpeg failed: %1").arg(QString::fromLocal8Bit(p.readAll())));
    QFile file(out);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read %1").arg(out));
    return file.readAll();
}

QByteArray picture(int w, int h, const char* format, const QString& label)
{
    QImage image(w, h, QImage::Format_RGB32);
    const uint hue = uint(qHash(label)) % 360;
    image.fill(QColor::fromHsv(int(hue), 120, 220));
    {
        // Shapes only: text would need fonts, which a plain command-line run does not have.
        QPainter painter(&image);
        painter.setPen(Qt::black);
        painter.setBrush(QColor::fromHsv(int((hue + 180) % 360), 200, 160));
        painter.drawEllipse(QPoint(w / 2, h / 2), w / 4, h / 4);
        for (int i = 0; i < int(hue % 7) + 1; ++i)
            painter.drawRect(QRect(w / 10 + i * w / 10, h - h / 6, w / 14, h / 10));
        painter.drawRect(image.rect().adjusted(0, 0, -1, -1));
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, 85))
        fail(QStringLiteral("cannot encode a %1 picture").arg(QLatin1String(format)));
    return bytes;
}

QByteArray clip(double seconds, const QString& container)
{
    return runFfmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                      QStringLiteral("testsrc=duration=%1:size=320x240:rate=15").arg(seconds),
                      QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                      QStringLiteral("sine=frequency=440:duration=%1").arg(seconds),
                      QStringLiteral("-c:v"), QStringLiteral("libx264"), QStringLiteral("-pix_fmt"),
                      QStringLiteral("yuv420p"), QStringLiteral("-c:a"), QStringLiteral("aac"),
                      QStringLiteral("-shortest"), QStringLiteral("-f"), container},
                     container);
}

QByteArray recording(double seconds, double frequency)
{
    return runFfmpeg({QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"),
                      QStringLiteral("sine=frequency=%1:duration=%2:sample_rate=44100")
                          .arg(frequency)
                          .arg(seconds),
                      QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-f"),
                      QStringLiteral("ipod")},
                     QStringLiteral("m4a"));
}

void addCameraRoll(SampleBackup& backup)
{
    const QString d = QLatin1String(kCameraDomain);
    const QString a = QStringLiteral("Media/DCIM/100APPLE/");
    const QString b = QStringLiteral("Media/DCIM/101APPLE/");
    backup.addFile(d, a + "IMG_0001.JPG", picture(640, 480, "JPEG", QStringLiteral("IMG_0001")));
    backup.addFile(d, a + "IMG_0002.PNG", picture(480, 640, "PNG", QStringLiteral("IMG_0002")));
    backup.addFile(d, a + "IMG_0003.MOV", clip(2, QStringLiteral("mov")));
    backup.addFile(d, a + "IMG_0004.JPEG", QByteArray("not a camera-roll file"));
    backup.addMissingFile(d, a + "IMG_0005.JPG");
    backup.addFile(d, b + "IMG_0006.JPG", picture(800, 600, "JPEG", QStringLiteral("IMG_0006")));
    backup.addFile(d, b + "IMG_0007.jpg", picture(600, 800, "JPEG", QStringLiteral("IMG_0007")));
    backup.addFile(d, b + "IMG_0008.MP4", clip(3, QStringLiteral("mp4")));
}

void addRecordings(SampleBackup& backup)
{
    const QString d = QLatin1String(kMediaDomain);
    const QString r = QStringLiteral("Media/Recordings/");
    backup.addFile(d, r + "AssetManifest.plist",
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                   "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                   "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                   "<plist version=\"1.0\"><dict>"
                   "<key>20161229 102030.m4a</key><dict><key>duration</key><real>2</real></dict>"
                   "<key>20161230 081500.m4a</key><dict><key>duration</key><real>3</real></dict>"
                   "</dict></plist>\n");
    backup.addFile(d, r + "20161229 102030.m4a", recording(2, 440));
    backup.addFile(d, r + "20161230 081500.m4a", recording(3, 880));
    backup.addFile(d, r + "20161231 120000.M4A", recording(1, 660));
    backup.addFile(d, r + "20170101 090000.m4a.tmp", recording(1, 330));
}

void addMediaData(SampleBackup& backup)
{
    // The filler's camera files hold placeholder bytes; make them pictures that open.
    const QByteArray small = picture(160, 120, "JPEG", QStringLiteral("filler"));
    for (SampleBackup::Entry& e : backup.entries())
        if (e.kind == SampleBackup::File && e.path.startsWith(QLatin1String("Media/DCIM/")) &&
            e.path.endsWith(QLatin1String(".JPG")))
            e.content = small;
    addCameraRoll(backup);
    addRecordings(backup);
}

} // namespace media
