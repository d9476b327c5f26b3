#pragma once

#include "util/ExportFile.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

class TStoredCopies;

// The export of checked tree files into a folder of the user's choice, recreating the tree's
// folders there. The building of the list from the tree lives with the tree's window.

// exportPath (the chosen folder followed by "/") joined with the tree path, in the
// platform's separators.
QString exportDestination(const QString& exportPath, const QString& treePath);

// The entry that exports the stored copy of Key to treePath below exportPath, or nothing
// when the stored copy is missing. Throws when the tree path would lead out of exportPath
// (a catalog path with ".." components must not write elsewhere on the disk).
std::optional<TExportFile> makeExportFile(const QString& backupPath, const QString& Key,
                                          const QString& exportPath, const QString& treePath);

// Copies every entry, in order, creating missing folders and replacing files already there;
// with copies, the content comes through them (decrypted for an encrypted backup) and each
// file takes its modification time from the catalog. A file is first written beside its target
// and then renamed over it, so a failed copy never costs the file of an earlier export. Throws
// on the first failure with the system's reason; the files copied before it stay. Files whose
// key is missing are skipped: returns how many.
int CopyExportFiles(const std::vector<TExportFile>& list, TStoredCopies* copies = nullptr);

// How far an export has come. Bytes are those of the sources (for an encrypted backup the
// stored, encrypted copies), measured before the copying starts; at the end bytesDone equals
// bytes. Files whose key is missing count as done.
struct TExportProgress
{
    int filesDone = 0;
    int files = 0;
    qint64 bytesDone = 0;
    qint64 bytes = 0;
};
// Called once before the first file, after every chunk of a file (at most 64 MiB) and after
// every file; returning false cancels the export.
using TExportProgressFn = std::function<bool(const TExportProgress&)>;

struct TExportOutcome
{
    int exported = 0; // files written to their destination
    int skipped = 0;  // files whose key is missing
    bool cancelled = false;
};

// CopyExportFiles with progress and Cancel. A cancelled export stops within the file in
// progress, whose partial copy is removed (an earlier export's file at its place stays as it
// was); the files exported before it stay. Failures throw as in CopyExportFiles.
TExportOutcome CopyExportFilesWithProgress(const std::vector<TExportFile>& list,
                                           TStoredCopies* copies,
                                           const TExportProgressFn& progress);

// Empties an export list (its creator's last step, also after a failure).
void FreeExportList(std::vector<TExportFile>& list);

// Whether path is folder itself or lies below it (both made absolute and clean first).
bool isInsideFolder(const QString& path, const QString& folder);
