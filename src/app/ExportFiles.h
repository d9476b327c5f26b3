#pragma once

#include "util/ExportFile.h"

#include <QString>

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

// Empties an export list (its creator's last step, also after a failure).
void FreeExportList(std::vector<TExportFile>& list);

// Whether path is folder itself or lies below it (both made absolute and clean first).
bool isInsideFolder(const QString& path, const QString& folder);
