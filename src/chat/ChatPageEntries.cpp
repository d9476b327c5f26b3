#include "chat/ChatPageEntries.h"

#include "chat/ChatConversation.h"
#include "chat/ChatPage.h"
#include "util/Error.h"

#include <QElapsedTimer>

#include <algorithm>
#include <stdexcept>

TChatPageEntries::TChatPageEntries(TChatConversation& conversation)
    : m_conversation(conversation),
      m_entries(size_t(conversation.count())),
      m_done(size_t(conversation.count()), false)
{
}

const QByteArray& TChatPageEntries::entry(int index)
{
    const size_t i = size_t(index);
    if (!m_done.at(i)) {
        m_entries[i] = ChatPageWriter::encodeEntry(m_conversation.entry(index));
        m_done[i] = true;
        ++m_rendered;
    }
    return m_entries[i];
}

QByteArray TChatPageEntries::viewRange(int first, int last)
{
    QByteArray out;
    for (int i = std::max(0, first); i < std::min(last, count()); ++i)
        appendViewEntry(out, entry(i));
    return out;
}

bool TChatPageEntries::renderFor(std::chrono::nanoseconds budget)
{
    QElapsedTimer timer;
    timer.start();
    do {
        while (m_next < count() && m_done[size_t(m_next)])
            ++m_next;
        if (m_next >= count())
            break;
        entry(m_next);
    } while (timer.nsecsElapsed() < budget.count());
    return complete();
}

void TChatPageEntries::save(const QString& path) const
{
    if (!complete())
        throw std::logic_error("the page file is written only once every entry is rendered");
    ChatPageWriter::save(path, m_entries);
}
