#pragma once

#include "chat/MessagesStore.h"

#include <QSet>
#include <QUrl>
#include <QString>

#include <functional>
#include <vector>

// The HTML of a Messages conversation: one entry per message or group event, so that the view
// can show any range of them (the newest first, older ones as the user scrolls up) and an
// export can write them all. Every text from the database is escaped; only http and https
// addresses in a message's text become links.

enum class TAttachmentKind
{
    akPicture,
    akVideo,
    akAudio,
    akFile
};

// What an attachment is, by its MIME type, else its UTI, else its name's extension.
TAttachmentKind attachmentKind(const TMessageAttachment& attachment);
// Whether a picture needs converting before a web page or Qt can show it (HEIC, HEIF).
bool isHeifAttachment(const TMessageAttachment& attachment);

// The page's phrase for a tapback, e.g. "❤️" for 2000; empty for an unknown type.
QString reactionGlyph(const TMessageReaction& reaction);

class TMessagesRenderer final
{
public:
    struct Links
    {
        // Whether the backup holds attachment a of message m (else: "not in this backup").
        std::function<bool(int m, int a)> available;
        // The picture shown in the bubble for attachment a of message m (a thumbnail address).
        std::function<QString(int m, int a)> picture;
        // Where a click on attachment a of message m goes.
        std::function<QString(int m, int a)> open;
    };

    // Borrows conversation, messages and names: they must outlive the renderer.
    TMessagesRenderer(const TConversation& conversation, const std::vector<TMessage>& messages,
                      const TContactNames& names, Links links);

    int count() const { return int(m_messages.size()); }
    // The entry of message index (0 = oldest).
    QString entry(int index) const;
    // The entries of messages [first, last), in order.
    QString range(int first, int last) const;

    // Whether url is a web address that a rendered entry shows as a link.
    bool showsLink(const QUrl& url) const;

    // The display name of a message's sender: "Me" for the owner's, else the address book's
    // name, else the handle id.
    QString senderName(const TMessage& message) const;
    // The text of a group event, e.g. "Zoë added +49 30 1234567".
    QString eventText(const TMessage& message) const;

private:
    QString attachmentHtml(int m, int a) const;
    QString textHtml(const QString& text) const;
    QString nameOf(const QString& handle) const;

    const TConversation& m_conversation;
    const std::vector<TMessage>& m_messages;
    const TContactNames& m_names;
    Links m_hooks;
    mutable QSet<QString> m_webLinks; // addresses made links so far
};

// The page the view loads first: style, the newest entries (those of [first, count)), and the
// script that asks rangeUrl + "/<n>" for the entries before index n as the user scrolls up.
// nonce is the page's one allowed script.
QString messagesPageShell(const QString& title, const QString& newestEntries, int first,
                          const QString& rangeUrl, const QString& nonce);

// A page for an export: style and all entries, no script.
QString messagesExportPage(const QString& title, const QString& entries);
