#pragma once

#include <QString>

#include <functional>

// One file to show, play, save or export.
struct TExportFile
{
    QString srcFile;      // full path of the file to read
    QString dstFile;      // destination; its last component is the phone's own file name
    QString parentFolder; // tree folder holding the file, or empty
};

// Turns a list entry's srcFile into a path that may be opened (an encrypted backup's stored copy
// becomes its decrypted copy); the identity for everything else.
using TFileResolver = std::function<QString(const QString& srcFile)>;
