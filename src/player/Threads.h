#pragma once

#include "player/AVThread.h"

// Reads packets and routes them to the packet queues; performs pauses, seeks, stream swaps
// and the end of input.
class TAVReadThread final : public TAVThread
{
public:
    using TAVThread::TAVThread;
    ~TAVReadThread() override { WaitFor(); }

protected:
    void Execute() override;

private:
    int infinite_buffer = -1;
    bool last_pkt_in_range = false;
    void swapStreams();

    int FLastPktType = 0; // 1: audio was routed last, 2: video
};

class TAVVideoThread final : public TAVThread
{
public:
    using TAVThread::TAVThread;
    ~TAVVideoThread() override { WaitFor(); }

protected:
    void Execute() override;
};

class TAVAudioThread final : public TAVThread
{
public:
    using TAVThread::TAVThread;
    ~TAVAudioThread() override { WaitFor(); }

protected:
    void Execute() override;
};

class TAVSubtitleThread final : public TAVThread
{
public:
    using TAVThread::TAVThread;
    ~TAVSubtitleThread() override { WaitFor(); }

protected:
    void Execute() override;
};

// Hands due pictures to the displays and keeps the external clock's speed.
class TAVRefreshThread final : public TAVThread
{
public:
    using TAVThread::TAVThread;
    ~TAVRefreshThread() override { WaitFor(); }

protected:
    void Execute() override;
};

// Runs a non-blocking open.
class TAVOpenThread final : public TAVThread
{
public:
    using TAVThread::TAVThread;
    ~TAVOpenThread() override { WaitFor(); }

protected:
    void Execute() override;
};
