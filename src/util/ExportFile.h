#pragma once

#include <QString>

// One file to show, play, save or export.
struct TExportFile
{
    QString srcFile;      // full path of the file to read
    QString dstFile;      // destination; its last component is the phone's own file name
    QString parentFolder; // tree folder holding the file, or empty
};
