#pragma once

#include "chat/MessagesStore.h"

#include <QString>

#include <functional>
#include <vector>

class QIODevice;
class TContactNames;

// A Messages conversation saved for reading outside the program.

// How an export gets at the attachments' files.
struct TAttachmentSource
{
    // The catalog Key of an attachment's file; empty when the backup does not list it.
    std::function<QString(const TMessageAttachment&)> keyOf;
    // Whether Key's file can be read (its stored copy is there and, encrypted, its key).
    std::function<bool(const QString& key)> available;
    // Writes Key's content to out. Throws Error.
    std::function<void(const QString& key, QIODevice& out)> writeContent;
    // For pictures no browser shows (HEIC): writes a JPEG of Key's picture to path; false when
    // it cannot. May be empty.
    std::function<bool(const QString& key, const QString& path)> writeJpeg;
};

// The CSV of a conversation: Date (local time), From, Text, Attachments (names joined with
// "; "), Service; one line per message or group event, oldest first. Throws Error naming path.
void saveConversationCsv(const QString& path, const TConversation& conversation,
                         const std::vector<TMessage>& messages, const TContactNames& names);

struct TConversationExport
{
    QString folder;   // the folder made for it
    int written = 0;  // attachment files copied
    int missing = 0;  // attachments the backup does not hold
};

// Makes a new folder below parent named after the conversation (" (2)", " (3)" ... when taken)
// holding messages.html (self-contained: style, entries, pictures and files linked from the
// "attachments" folder beside it), messages.csv and the attachments. Every file is written
// beside its place first and renamed when complete. Throws Error on the first failure.
TConversationExport exportConversation(const QString& parent, const QString& title,
                                       const TConversation& conversation,
                                       const std::vector<TMessage>& messages,
                                       const TContactNames& names, const TAttachmentSource& source);

// A file or folder name made from text: no "/", no NUL, no leading dot, at most 100
// characters; "Conversation" when nothing is left.
QString safeFileName(const QString& text);
