#pragma once

// Inputs a host feeds from objects of its own. The host creates one of the objects below; it
// registers itself with the engine under a number and names what a player opens:
//
//   TAVStreamInput          OpenMovie(input.Url())                       a QIODevice
//   (no object)             OpenMovie("buffer:" + any FFmpeg URL)        read ahead in blocks
//   TAVBitmapInput          InputFormat "bmpcap",  OpenMovie(input.DeviceName())
//   TAVBitmapCallbackInput  InputFormat "bmpcap2", OpenMovie(input.DeviceName())
//   TAVScreenInput          InputFormat "gdi2",    OpenMovie(input.DeviceName())
//   TAVAirInput             InputFormat "air",     OpenMovie(input.DeviceName())
//
// A player opens only numbers of objects that are registered, alive and of the kind named;
// anything else fails the open. A host object may go away while a player reads it: the input
// then ends (or fails) at the next read, and the object's destructor waits for a read in
// progress. Host objects are created and destroyed on the UI thread.

#include "player/FFmpegPtr.h"
#include "player/PacketQueue.h"

#include <QImage>
#include <QRect>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class QIODevice;

enum class THostKind
{
    Stream,
    Bitmap,
    BitmapCallback,
    Screen,
    Air
};

// What a host object shares with the players reading it.
struct THostState
{
    explicit THostState(THostKind k) : kind(k) {}
    virtual ~THostState() = default;
    THostState(const THostState&) = delete;
    THostState& operator=(const THostState&) = delete;

    const THostKind kind;
    std::mutex lock;   // held by the engine while it uses the host's object
    bool alive = true; // cleared, under lock, when the host object goes away
};

struct TStreamState final : THostState
{
    explicit TStreamState(QIODevice* d) : THostState(THostKind::Stream), device(d) {}
    QIODevice* const device;
};

struct TBitmapState final : THostState
{
    using TCallback = std::function<void(QImage& Bitmap, bool& Ready)>;
    explicit TBitmapState(THostKind k) : THostState(k) {}
    QImage bitmap;      // under BitmapLock()
    TCallback callback; // bmpcap2 only
};

struct TScreenState final : THostState
{
    TScreenState() : THostState(THostKind::Screen) {}
    QRect area; // under lock
};

struct TAirState final : THostState
{
    TAirState();
    QString format;
    // The queue's markers; they outlive it.
    PacketPointer flushPkt;
    PacketPointer eofPkt;
    std::unique_ptr<TAVPacketQueue> queue;
};

// Both bitmap devices copy under this lock; a host draws under it.
std::mutex& BitmapLock();

// The live host object of that kind registered under the decimal number, or none.
std::shared_ptr<THostState> FindHostObject(THostKind kind, const QString& number);

// Registers its state for its lifetime.
class TAVHostObject
{
    Q_DISABLE_COPY_MOVE(TAVHostObject)
public:
    virtual ~TAVHostObject();
    // The decimal number a player opens it by.
    QString Number() const { return QString::number(m_number); }

protected:
    explicit TAVHostObject(std::shared_ptr<THostState> state);

    const std::shared_ptr<THostState> m_state;

private:
    quint64 m_number = 0;
};

// "stream:": a QIODevice a player reads (reads only; the engine never writes). Before the first
// read it is set to position 0. A QFile with a name on disk is opened again by that name
// through FFmpeg's file protocol instead. The device must outlive this object; while a player
// reads it the host leaves it alone.
class TAVStreamInput final : public TAVHostObject
{
public:
    explicit TAVStreamInput(QIODevice* device);
    // "stream:" + the number, then the extension (".wav") if given, which helps probing.
    QString Url(const QString& extension = QString()) const;
};

// "bmpcap": a BGRA picture the host keeps drawing; each packet is a copy of it.
class TAVBitmapInput final : public TAVHostObject
{
public:
    // Opaque black at first.
    TAVBitmapInput(int width, int height);
    static QString InputFormat() { return QStringLiteral("bmpcap"); }
    QString DeviceName() const { return Number(); }
    QSize Size() const;
    // Runs paint on the picture under the bitmap devices' lock, so no packet holds half a
    // drawing. The picture keeps its size and a 32-bit BGRA format (QImage::Format_RGB32 or
    // Format_ARGB32); a player that meets another one fails that read.
    void Draw(const std::function<void(QImage&)>& paint);
};

// "bmpcap2": before each picture a player calls back for a bitmap, every 20 ms until the
// callback reports it ready. The callback runs on the player's read thread with the bitmap
// slot holding the bitmap given here; what it leaves in the slot is copied. The picture size
// is that of the bitmap given here.
class TAVBitmapCallbackInput final : public TAVHostObject
{
public:
    using TCallback = TBitmapState::TCallback;
    TAVBitmapCallbackInput(const QImage& bitmap, TCallback callback);
    static QString InputFormat() { return QStringLiteral("bmpcap2"); }
    QString DeviceName() const { return Number(); }
};

// "gdi2": a rectangle of the X11 screen ($DISPLAY), reported when a player opens it.
class TAVScreenInput final : public TAVHostObject
{
public:
    explicit TAVScreenInput(const QRect& area);
    static QString InputFormat() { return QStringLiteral("gdi2"); }
    QString DeviceName() const { return Number(); }
    QRect Area() const;
    void setArea(const QRect& area);
};

// "air": ALAC packets the host receives, described by the twelve numbers of an AirPlay "fmtp"
// line ("96 352 0 16 40 10 14 2 255 0 0 44100"). The host puts each packet into Queue();
// EndOfInput ends the media after the packets already queued; aborting the queue ends it at
// once.
class TAVAirInput final : public TAVHostObject
{
public:
    explicit TAVAirInput(const QString& format);
    ~TAVAirInput() override;
    static QString InputFormat() { return QStringLiteral("air"); }
    QString DeviceName() const { return Number(); }
    TAVPacketQueue& Queue();
    void EndOfInput();
};

// A custom I/O context over a host stream ("stream:" URLs); used on one thread at a time.
class THostStreamIO final
{
    Q_DISABLE_COPY_MOVE(THostStreamIO)
public:
    explicit THostStreamIO(std::shared_ptr<TStreamState> state);
    ~THostStreamIO();
    AVIOContext* Context() const { return m_ctx; }
    // FFmpeg's read and seek; an origin other than SEEK_SET, SEEK_CUR, SEEK_END and the size
    // query throws "Assertion failure (StreamProtocol, line 200)".
    int Read(uint8_t* buf, int size);
    int64_t Seek(int64_t offset, int whence);

private:
    std::shared_ptr<TStreamState> m_state;
    AVIOContext* m_ctx = nullptr;
    bool m_rewound = false;
};

// A custom I/O context that reads an inner FFmpeg URL in whole requests ("buffer:" URLs).
class THostBufferIO final
{
    Q_DISABLE_COPY_MOVE(THostBufferIO)
public:
    // Opens the inner URL with the options the I/O layer takes (removed from options) and the
    // container's interrupt callback; throws when it cannot open.
    THostBufferIO(const QString& innerUrl, const AVIOInterruptCB* interrupt,
                  AVDictionary** options);
    ~THostBufferIO();
    AVIOContext* Context() const { return m_ctx; }
    // Loops until size bytes arrived, the end (the bytes so far) or an error. A read of 0
    // bytes or less throws "Assertion failure (BufferProtocol, line 56)".
    int Read(uint8_t* buf, int size);
    int64_t Seek(int64_t offset, int whence);

private:
    AVIOContext* m_inner = nullptr;
    AVIOContext* m_ctx = nullptr;
};

class THostDevice;

// The player's side: opens a media by its name, through a host object when the name is one.
// Owned by the player; open, reads and close come from the thread that drives the container.
class THostInput final
{
    Q_DISABLE_COPY_MOVE(THostInput)
public:
    THostInput();
    ~THostInput();

    // Opens url into *ic as avformat_open_input does, and with its contract: on failure *ic
    // is freed and a negative code returned, the reason logged. A device's assertion failures
    // throw.
    int Open(AVFormatContext** ic, const QString& inputFormat, const QString& url,
             const AVInputFormat* format, AVDictionary** options);
    // The streams come from the device and are complete: there is nothing to probe.
    bool IsDevice() const { return m_device != nullptr; }
    // One packet: from the device, else av_read_frame.
    int ReadFrame(AVFormatContext* ic, AVPacket* pkt);
    // After the container is closed.
    void Close();

private:
    std::unique_ptr<THostDevice> m_device;
    std::unique_ptr<THostStreamIO> m_stream;
    std::unique_ptr<THostBufferIO> m_buffer;
};

// The device names a player opens as its input format.
bool IsHostDeviceName(const QString& inputFormat);
