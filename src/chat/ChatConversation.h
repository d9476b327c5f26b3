#pragma once

#include "chat/ChatSession.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <vector>

struct TFriendInfo;

// One message row as read from a Chat_ table, before any rendering or media work.
struct TChatRow
{
    qint64 createTime = 0; // Unix seconds
    qint64 localId = 0;    // MesLocalID: names the message's media files
    int type = 0;
    bool sent = false;     // Des = 0
    QString date;          // local time as SQLite's datetime(..., 'localtime') writes it
    QString message;
};

// Where the entries of a conversation point for their media: the view's temporary copies
// behind the private link schemes, or copies in an export folder behind relative links.
struct TMediaPlacement
{
    QString folder; // empty: the view's temporary folders; else the export's media folder
    QString prefix; // the relative link to that folder ("media/")
};

// A conversation read from every database of the account that holds its table: the rows that
// have an entry, oldest first (CreateTime, then MesLocalID). Reading is all the constructor
// does; an entry is rendered, and its media prepared, only when it is asked for. A page can be
// made of any range of entries; the whole page is all of them in order.
//
// Borrows the session and the contact, which must outlive it. GUI thread, like the session.
class TChatConversation final
{
    Q_DISABLE_COPY_MOVE(TChatConversation)

public:
    TChatConversation(TChatSession& session, const TFriendInfo& contact,
                      std::vector<TChatRow> rows);

    // Rows that have an entry (skipped types excluded).
    int count() const { return int(m_rows.size()); }
    const TChatRow& row(int index) const { return m_rows.at(size_t(index)); }
    const TFriendInfo& contact() const { return m_contact; }
    bool isGroup() const { return m_group; }

    // Payload failures and voice decoding use these while entries render.
    void setHooks(TChatSession::BuildHooks hooks) { m_hooks = std::move(hooks); }

    // The entry of row index, 0 = oldest, with its media prepared. Throws an Error when the
    // media cannot be had (not indexed, unreadable, decoder missing).
    QString entry(int index);
    // The same, for a page kept elsewhere: media copied into placement's folder and linked
    // relatively, so the page works from any place it is copied to.
    QString entry(int index, const TMediaPlacement& placement);

    // The entries of rows [first, last), in order, each followed by CR LF as on the page.
    QString range(int first, int last);

    // The sender's name as the entry's header shows it ("我" for the owner's own messages).
    QString senderName(int index) const;

    // The local files that the entries rendered so far show (cleaned paths), and the
    // addresses of their shared links as written.
    const QSet<QString>& files() const { return m_files; }
    const QStringList& links() const { return m_links; }

private:
    QString render(int index, const TMediaPlacement* placement);

    TChatSession& m_session;
    const TFriendInfo& m_contact;
    std::vector<TChatRow> m_rows;
    bool m_group = false;
    QString m_h;
    TChatSession::BuildHooks m_hooks;
    QSet<QString> m_files;
    QStringList m_links;
};

// The message types that never get an entry: hidden article pushes (type 1 beginning
// "<mmreader>"), and 42, 47, 48.
bool isSkippedMessage(int type, const QString& message);
