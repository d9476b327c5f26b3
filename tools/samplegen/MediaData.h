#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class SampleBackup;

// The camera roll and the voice recordings of the demo backup and the media tests.
namespace media {

inline constexpr char kCameraDomain[] = "CameraRollDomain";
inline constexpr char kMediaDomain[] = "MediaDomain";

// Runs the ffmpeg tool with args and an output file of the given extension; returns the file's
// bytes. Throws std::runtime_error with ffmpeg's words when it fails.
QByteArray runFfmpeg(const QStringList& args, const QString& suffix);

// A picture of w x h in format "JPEG" or "PNG", its colours and shapes chosen by label.
QByteArray picture(int w, int h, const char* format, const QString& label);
// A short clip made by the ffmpeg tool; container "mp4" or "mov".
QByteArray clip(double seconds, const QString& container);
// An AAC voice recording (.m4a) of a sine tone, made by the ffmpeg tool.
QByteArray recording(double seconds, double frequency);

// Media/DCIM/100APPLE and 101APPLE: JPEG and PNG photos (one with a lower-case extension),
// a .JPEG-named file that is no camera-roll file, an MP4 and a MOV video, and a catalog
// entry whose stored copy is missing.
void addCameraRoll(SampleBackup& backup);
// Media/Recordings: AssetManifest.plist and .m4a recordings, one named .M4A (not a recording)
// and one .m4a.tmp (one).
void addRecordings(SampleBackup& backup);
// Both of the above, after turning the filler's camera files into real pictures.
void addMediaData(SampleBackup& backup);

} // namespace media
