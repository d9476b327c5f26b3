#pragma once

#include "util/ExportFile.h"

class QWidget;

// Plays file.srcFile in the playback window, modally; Save offers the name of file.dstFile.
void ShowVideoForm(const TExportFile& file, QWidget* parent = nullptr);
