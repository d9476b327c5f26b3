#pragma once

#include <QString>

class QFile;
class QIODevice;

// Copies what is left of in (from its position) to the end of out. Between two files the
// kernel copies the bytes itself (copy_file_range: nothing passes through this process, and a
// file system that can share blocks does); elsewhere, or where the kernel refuses, a loop of
// large blocks does it. Memory stays flat whatever the size. what names the source in errors.
void copyContent(QIODevice& in, QIODevice& out, const QString& what);
