#pragma once

#include <QString>

#include <cstdint>
#include <map>
#include <mutex>

// Receives FFmpeg's log lines produced on the threads registered for it.
class IAVLogger
{
public:
    virtual ~IAVLogger() = default;
    // Called on the thread that logged, under the registry lock.
    virtual void WriteLog(int level, const QString& text) = 0;
    virtual int GetLevel() const = 0;
};

using TThreadId = std::uint32_t;

// The kernel's id of the calling thread.
TThreadId currentThreadId();

// Routes each FFmpeg log line to the player whose thread produced it. Thread-safe.
class TLoggerRegistry final
{
public:
    void Add(TThreadId thread, IAVLogger* logger);
    void Remove(TThreadId thread);
    // Drops every entry of a logger that is going away.
    void RemoveLogger(IAVLogger* logger);
    IAVLogger* Find(TThreadId thread);
    // Delivers a formatted line to the logger of the calling thread if its level admits it.
    void Deliver(int level, const char* format, va_list args);

private:
    std::recursive_mutex m_lock;
    std::map<TThreadId, IAVLogger*> m_loggers;
};

TLoggerRegistry& LoggerRegistry();

// Registers a logger for the calling thread for the guard's lifetime.
class LoggerEntry final
{
public:
    explicit LoggerEntry(IAVLogger* logger);
    ~LoggerEntry();
    LoggerEntry(const LoggerEntry&) = delete;
    LoggerEntry& operator=(const LoggerEntry&) = delete;

private:
    TThreadId m_thread;
};

// Folder prefix for the media libraries. FFmpeg and SDL are linked, so it only keeps its value.
QString& LibraryPath();

// Once per process: FFmpeg's log flags, networking, devices and the log callback. Repeated
// calls do nothing more. Called from the thread that creates players (the UI thread).
void LoadMediaLibraries();
// LoadMediaLibraries plus the audio library (linked; SDL itself starts with the first mixer).
void LoadAudioLibraries();
// At program end: undoes the once-per-process set-up.
void UnloadMediaLibraries();

// Serialises the interrupt callbacks of all players.
std::mutex& InterruptLock();
