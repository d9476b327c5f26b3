#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <vector>

class TChatConversation;

// The entries of one conversation as the paged view and the page file need them: each entry
// rendered (its media prepared) once, when it is first asked for, and kept in the page file's
// bytes, so the view's ranges and the file written behind it share the work and the file
// equals the one TChatSession::writePage writes.
//
// Borrows the conversation, which must outlive it. GUI thread, like the conversation.
class TChatPageEntries final
{
    Q_DISABLE_COPY_MOVE(TChatPageEntries)

public:
    explicit TChatPageEntries(TChatConversation& conversation);

    int count() const { return int(m_entries.size()); }
    int rendered() const { return m_rendered; }
    bool complete() const { return m_rendered == count(); }

    // Entry index (0 = oldest) in the page file's bytes, rendered first when it is not yet.
    // Throws the conversation's Error; the entry is then asked for again next time.
    const QByteArray& entry(int index);
    // The entries of [first, last) as the view's page holds them.
    QByteArray viewRange(int first, int last);

    // Renders entries not rendered yet, oldest first, until budget is spent (at least one).
    // Returns complete(). Throws as entry() does.
    bool renderFor(std::chrono::nanoseconds budget);

    // Writes the page file of all entries; complete() must hold. Throws an Error on failure.
    void save(const QString& path) const;

private:
    TChatConversation& m_conversation;
    std::vector<QByteArray> m_entries;
    std::vector<bool> m_done;
    int m_rendered = 0;
    int m_next = 0; // no entry before it is left to render
};
