#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

class SampleBackup;

// The camera roll of a current iPhone: HEIC photos, HEVC video, Live Photo pairs, and the
// pieces tests and benchmarks build their own pictures from.
namespace media {

// A test picture of w x h: a colour field from label, the top-left quarter-square green and
// the top-right one red, so a turn or a mirror shows.
QImage markedPicture(int w, int h, const QString& label);

// image encoded as HEIC by libheif's HEVC encoder (the one heif-enc uses). orientation is an
// EXIF orientation (1 to 8), written as the file's irot/imir boxes, and, like iPhones do, also
// as an EXIF Orientation tag; thumbnailSide > 0 stores a thumbnail that fits that square.
QByteArray heicPicture(const QImage& image, int orientation = 1, int thumbnailSide = 0,
                       int quality = 50);

// jpeg with an EXIF block after its SOI marker holding the Orientation tag (1 to 8) and, when
// given, thumbnail (a small JPEG) as cameras store theirs.
QByteArray withExifOrientation(const QByteArray& jpeg, int orientation,
                               const QByteArray& thumbnail = {});

// A short HEVC video (libx265) in a QuickTime file, as iPhones record since iOS 11.
QByteArray hevcClip(double seconds);

// Media/DCIM/100APPLE of a current iPhone: HEIC photos (one upright, one turned by its irot),
// a Live Photo (IMG_0103.HEIC with IMG_0103.MOV), an HEVC video and a JPEG; the filler's
// camera files already in backup become small pictures.
void addCurrentCameraRoll(SampleBackup& backup);

} // namespace media
