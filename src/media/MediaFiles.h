#pragma once

#include "util/ExportFile.h"

#include <QString>

#include <optional>

// The rules by which the camera roll and the voice recordings are picked from the file tree,
// and the entries made for them.

// A camera-roll file: its name, upper-cased, contains ".JPG", ".PNG", ".HEIC", ".HEIF", ".MP4"
// or ".MOV" anywhere (IMG_1.jpg and IMG_1.HEIC are one; IMG_1.JPEG is not).
bool isCameraMediaName(const QString& name);

// A voice recording: its name contains ".m4a", case counting (x.M4A is none, x.m4a.tmp is one).
bool isRecordingName(const QString& name);

// The photo test of the camera window: the whole destination, upper-cased, contains ".JPG",
// ".PNG", ".HEIC" or ".HEIF" (so an export folder named like a picture makes every entry a
// photo).
bool isPhotoEntry(const TExportFile& file);

// The entry for a collected file node, or nothing when its stored copy is missing. Only the
// last component of dstFile is ever used, so no check of the destination is made here.
std::optional<TExportFile> makeMediaFile(const QString& backupPath, const QString& Key,
                                         const QString& exportPath, const QString& treePath,
                                         const QString& parentFolder);

// Folder names compared as the camera window compares them: A to Z without regard to case.
QString folderKey(const QString& folder);

// The phone's own file name: the last component of dstFile, in either separator.
QString phoneFileName(const TExportFile& file);
