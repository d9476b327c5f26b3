#pragma once

#include <QString>

#include <functional>

class QFile;
class QIODevice;

// Called after each chunk with the bytes copied so far; returning false stops the copy, which
// then throws Error("cancelled"), as decryptStream does. The caller knows it stopped it.
using TCopyProgress = std::function<bool(qint64 bytesSoFar)>;

// Copies what is left of in (from its position) to the end of out. Between two files the
// kernel copies the bytes itself (copy_file_range: nothing passes through this process, and a
// file system that can share blocks does); elsewhere, or where the kernel refuses, a loop of
// large blocks does it. Memory stays flat whatever the size. what names the source in errors.
// progress, when given, hears of every chunk (at most kCopyChunk bytes), so a big file shows
// its progress and can be stopped within it.
void copyContent(QIODevice& in, QIODevice& out, const QString& what,
                 const TCopyProgress& progress = {});

inline constexpr qint64 kCopyChunk = 64 * 1024 * 1024;
