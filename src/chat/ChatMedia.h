#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Name of the voice decoder program, looked for beside the ferrowick executable, then on PATH.
inline constexpr char kSilkDecoderProgram[] = "SilkDecoder";

// A stored voice file is SILK when "SILK_V3" occurs in its first 32 bytes, otherwise AMR.
bool isSilkVoice(const QByteArray& head);

// The decoder's command line: program name, blank, quoted .silk path, blank, quoted .pcm path.
QString silkDecoderCommandLine(const QString& silkPath, const QString& pcmPath);

// Deletes destination when present, then copies source there. Throws an Error with the
// system's reason when either step fails.
void CopyFileReplacing(const QString& source, const QString& destination);

// Runs a command line (first word the program: the executable's own folder is searched first,
// then PATH) and waits for it in 10 ms slices, calling pumpEvents after every slice so the
// window keeps painting. The exit code is not read. Throws an Error when it cannot start.
void RunAndWait(const QString& commandLine, const std::function<void()>& pumpEvents);
