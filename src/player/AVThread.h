#pragma once

#include <QtGlobal>

#include <atomic>
#include <thread>

class TAVPlayer;

// A worker thread of one player. It is created idle and runs Execute once after Start; while
// it runs, FFmpeg's log lines of the thread go to the player. A failure inside Execute ends
// the thread silently. Subclasses call WaitFor in their destructor.
class TAVThread
{
    Q_DISABLE_COPY_MOVE(TAVThread)
public:
    explicit TAVThread(TAVPlayer* player) : FPlayer(player) {}
    virtual ~TAVThread();

    // Called from the thread that owns the object.
    void Start();
    void WaitFor();
    bool Started() const { return m_thread.joinable(); }
    // Execute has returned (or the thread never started).
    bool Finished() const { return m_finished || !m_thread.joinable(); }

protected:
    virtual void Execute() = 0;

    TAVPlayer* const FPlayer;

private:
    void run();

    std::thread m_thread;
    std::atomic<bool> m_finished = false;
};
