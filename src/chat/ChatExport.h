#pragma once

#include "chat/ChatSession.h"

#include <QString>

class TChatConversation;

// Exports of one conversation, for keeping or reading elsewhere. Both read the conversation
// given; nothing is written into the backup.

// Makes a new folder in parent named after the conversation (a number added when the name is
// taken) holding wechathistory.html and a media folder with copies of every picture, video and
// voice message, linked relatively: the folder works when moved or opened anywhere. Returns the
// folder. Throws an Error on failure (the folder then holds what was written so far).
QString exportConversationFolder(TChatSession& session, TChatConversation& conversation,
                                 const QString& parent, const TChatSession::BuildHooks& hooks);

// Writes the conversation as CSV (time, sender, type, text; the table window's CSV form) to
// path, replacing it only once complete. Throws an Error on failure.
void exportConversationCsv(TChatConversation& conversation, const QString& path);

// A message type in words for the CSV: text, image, voice, video, link, call; other codes as
// their number.
QString messageTypeName(int type);

// A name for a file or folder made from a conversation's display name: no separators, control
// characters or leading dots, at most 80 characters; "conversation" when nothing is left.
QString exportName(const QString& displayName);
