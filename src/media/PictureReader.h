#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QSize>
#include <QString>

// Pictures of the camera roll and of chats: JPEG, PNG, GIF and WebP through Qt's readers,
// HEIC/HEIF through libheif. Stored copies carry no extension, so the format is always told by
// the content. Everything here is safe on any thread (no GUI objects).

// Whether firstBytes (the file's first 12 bytes or more) begin a HEIF file libheif reads.
bool isHeifContent(QByteArrayView firstBytes);

// Reads the picture at path: JPEG, PNG, GIF, WebP, and HEIC/HEIF told by content (libheif,
// its own rotation applied once; JPEG's EXIF orientation applied once), scaled to fit within
// fit (aspect kept) when fit is valid, decoding at that size where the format allows
// (QImageReader::setScaledSize; so a 48-megapixel JPEG never hits Qt's allocation limit).
// Pictures smaller than fit keep their size. A null image and *error set on failure.
QImage readPicture(const QString& path, QSize fit = {}, QString* error = nullptr);

// A small picture for a grid: like readPicture, but a HEIF picture's own stored thumbnail is
// used when it is at least as large as fit, which spares decoding the whole photo.
QImage readThumbnail(const QString& path, QSize fit, QString* error = nullptr);

// Writes the picture at source as a JPEG file at target, at full size and shown the right way
// up. target is replaced only once the whole file is written. False and *error on failure.
bool writeJpegCopy(const QString& source, const QString& target, QString* error = nullptr);
