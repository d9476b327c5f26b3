#include "player/AVThread.h"

#include "player/AVPlayer.h"
#include "player/MediaLibraries.h"

TAVThread::~TAVThread()
{
    WaitFor();
}

void TAVThread::Start()
{
    if (!m_thread.joinable())
        m_thread = std::thread(&TAVThread::run, this);
}

void TAVThread::WaitFor()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void TAVThread::run()
{
    LoggerEntry logger(FPlayer);
    try {
        Execute();
    } catch (...) {
        // Worker threads end silently on failure; the media stalls until it is closed.
    }
    m_finished = true;
}
