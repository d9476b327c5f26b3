#pragma once

#include <QString>

class QIODevice;

#include <optional>
#include <vector>

// The Voice Memos app's recordings (iOS 12 and later): files named "YYYYMMDD HHMMSS-XXXXXXXX.m4a"
// in the group container's Recordings folder, described by Recordings/CloudRecordings.db.
struct TVoiceMemo
{
    QString fileName;    // the recording's file name in Recordings/
    QString label;       // the user's title, or empty (see memoTitle for the fallbacks)
    QString date;        // local time, "yyyy-MM-dd HH:mm:ss", or empty
    double duration = 0; // seconds
    bool recentlyDeleted = false;
};

// The rows of ZCLOUDRECORDING in the database at path (read-only, on a connection of its own),
// oldest first. The label is ZCUSTOMLABEL, else ZCUSTOMLABELFORSORTING (iOS 17 encrypts the
// first and keeps the second plain). Throws an Error when the file is no such database.
std::vector<TVoiceMemo> readVoiceMemos(const QString& path);

// The title tag (moov/udta/meta/ilst/"\xa9nam") of the MPEG-4 file at path, when it has one.
// Reads only the atom headers and the moov atom; never reads outside an atom.
std::optional<QString> mp4TitleTag(const QString& path);
// The same for a device open for reading (random access).
std::optional<QString> mp4TitleTag(QIODevice& file);

// What a memo is called: its label, else the file's title tag (titleTag), else the file name
// without its extension.
QString memoTitle(const TVoiceMemo& memo, const std::optional<QString>& titleTag);

// A file name for saving a memo under its title: characters that no file name may hold are
// replaced, the length is bounded, and the extension of the original file is kept.
QString memoSaveName(const QString& title, const QString& fileName);

// "m:ss" or "h:mm:ss" of seconds.
QString formatDuration(double seconds);
