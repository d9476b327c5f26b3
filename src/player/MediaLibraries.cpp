#include "player/MediaLibraries.h"

#include "player/FFmpegPtr.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

#include <cstdarg>
#include <cstdio>
#include <unistd.h>

TThreadId currentThreadId()
{
    return static_cast<TThreadId>(gettid());
}

void TLoggerRegistry::Add(TThreadId thread, IAVLogger* logger)
{
    std::lock_guard lock(m_lock);
    m_loggers[thread] = logger;
}

void TLoggerRegistry::Remove(TThreadId thread)
{
    std::lock_guard lock(m_lock);
    m_loggers.erase(thread);
}

void TLoggerRegistry::RemoveLogger(IAVLogger* logger)
{
    std::lock_guard lock(m_lock);
    std::erase_if(m_loggers, [logger](const auto& entry) { return entry.second == logger; });
}

IAVLogger* TLoggerRegistry::Find(TThreadId thread)
{
    std::lock_guard lock(m_lock);
    const auto it = m_loggers.find(thread);
    return it == m_loggers.end() ? nullptr : it->second;
}

void TLoggerRegistry::Deliver(int level, const char* format, va_list args)
{
    // The lock stays held while the logger runs, so a player cannot go away mid-call.
    std::lock_guard lock(m_lock);
    const auto it = m_loggers.find(currentThreadId());
    if (it == m_loggers.end() || it->second->GetLevel() < level)
        return;
    char buf[2048] = {};
    va_list copy;
    va_copy(copy, args);
    std::vsnprintf(buf, sizeof buf, format, copy);
    va_end(copy);
    it->second->WriteLog(level, QString::fromLocal8Bit(buf));
}

TLoggerRegistry& LoggerRegistry()
{
    static TLoggerRegistry registry;
    return registry;
}

LoggerEntry::LoggerEntry(IAVLogger* logger) : m_thread(currentThreadId())
{
    LoggerRegistry().Add(m_thread, logger);
}

LoggerEntry::~LoggerEntry()
{
    LoggerRegistry().Remove(m_thread);
}

QString& LibraryPath()
{
    static QString path;
    return path;
}

std::mutex& InterruptLock()
{
    static std::mutex lock;
    return lock;
}

namespace {

std::mutex g_loadLock;
bool g_initialised = false;

void logCallback(void*, int level, const char* format, va_list args)
{
    // FFmpeg must never see a failure from here; a line that cannot be delivered is dropped.
    try {
        LoggerRegistry().Deliver(level, format, args);
    } catch (...) {
    }
}

} // namespace

void LoadMediaLibraries()
{
    std::lock_guard lock(g_loadLock);
    if (g_initialised)
        return;
    av_log_set_flags(AV_LOG_SKIP_REPEATED);
    avformat_network_init();
    avdevice_register_all();
    av_log_set_callback(logCallback);
    g_initialised = true;
}

void LoadAudioLibraries()
{
    LoadMediaLibraries();
}

void UnloadMediaLibraries()
{
    std::lock_guard lock(g_loadLock);
    if (!g_initialised)
        return;
    av_log_set_callback(av_log_default_callback);
    avformat_network_deinit();
    g_initialised = false;
}
