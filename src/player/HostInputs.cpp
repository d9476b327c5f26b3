#include "player/HostInputs.h"

#include "player/DeviceInputs.h"
#include "util/Error.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <map>
#include <vector>

namespace {

// Markers of a host's packet queue: only their addresses matter.
const char kHostFlushMarker[] = "FLUSH";
const char kHostEofMarker[] = "EOF";

// Numbers are handed out once, so a number that outlives its object never names another.
struct Registry
{
    std::mutex lock;
    std::map<quint64, std::weak_ptr<THostState>> objects;
    quint64 next = 1;
};

Registry& registry()
{
    static Registry r;
    return r;
}

bool parseNumber(const QString& text, quint64* number)
{
    if (text.isEmpty() || text.size() > 20)
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    bool ok = false;
    *number = text.toULongLong(&ok);
    return ok;
}

// FFmpeg's callbacks must not see an exception: the message goes to the log of the thread's
// player and the call fails.
template <typename IO> int readThunk(void* opaque, uint8_t* buf, int size)
{
    try {
        return static_cast<IO*>(opaque)->Read(buf, size);
    } catch (const std::exception& e) {
        av_log(nullptr, AV_LOG_ERROR, "%s\n", e.what());
        return AVERROR(EINVAL);
    }
}

template <typename IO> int64_t seekThunk(void* opaque, int64_t offset, int whence)
{
    try {
        return static_cast<IO*>(opaque)->Seek(offset, whence);
    } catch (const std::exception& e) {
        av_log(nullptr, AV_LOG_ERROR, "%s\n", e.what());
        return AVERROR(EINVAL);
    }
}

template <typename IO> AVIOContext* allocContext(IO* io, int size)
{
    auto* buffer = static_cast<unsigned char*>(av_malloc(size));
    if (!buffer)
        throw Error(QStringLiteral("Could not allocate an I/O buffer"));
    AVIOContext* ctx =
        avio_alloc_context(buffer, size, 0, io, &readThunk<IO>, nullptr, &seekThunk<IO>);
    if (!ctx) {
        av_free(buffer);
        throw Error(QStringLiteral("Could not allocate an I/O buffer"));
    }
    return ctx;
}

void freeContext(AVIOContext*& ctx)
{
    if (!ctx)
        return;
    // FFmpeg may have replaced the buffer; the context owns whichever it holds now.
    av_freep(&ctx->buffer);
    avio_context_free(&ctx);
}

// A QFile that names a file on disk (not a resource) is read again by that name.
QString reopenablePath(QIODevice* device)
{
    const auto* file = qobject_cast<QFile*>(device);
    if (!file)
        return QString();
    const QString name = file->fileName();
    if (name.isEmpty() || name.startsWith(QLatin1Char(':')) ||
        name.startsWith(QLatin1String("qrc:")))
        return QString();
    const QFileInfo info(name);
    return info.isFile() ? info.absoluteFilePath() : QString();
}

} // namespace

TAirState::TAirState() : THostState(THostKind::Air)
{
    flushPkt = makeMarkerPacket(kHostFlushMarker);
    eofPkt = makeMarkerPacket(kHostEofMarker);
    queue = std::make_unique<TAVPacketQueue>(flushPkt.get(), eofPkt.get());
    queue->Start();
}

std::mutex& BitmapLock()
{
    static std::mutex lock;
    return lock;
}

std::shared_ptr<THostState> FindHostObject(THostKind kind, const QString& number)
{
    quint64 n = 0;
    if (!parseNumber(number, &n))
        return nullptr;
    Registry& r = registry();
    std::shared_ptr<THostState> state;
    {
        std::lock_guard lock(r.lock);
        const auto it = r.objects.find(n);
        if (it != r.objects.end())
            state = it->second.lock();
    }
    if (!state || state->kind != kind)
        return nullptr;
    std::lock_guard lock(state->lock);
    return state->alive ? state : nullptr;
}

TAVHostObject::TAVHostObject(std::shared_ptr<THostState> state) : m_state(std::move(state))
{
    Registry& r = registry();
    std::lock_guard lock(r.lock);
    m_number = r.next++;
    r.objects[m_number] = m_state;
}

TAVHostObject::~TAVHostObject()
{
    {
        Registry& r = registry();
        std::lock_guard lock(r.lock);
        r.objects.erase(m_number);
    }
    // Waits for a read in progress; players that still hold the state see it gone.
    std::lock_guard lock(m_state->lock);
    m_state->alive = false;
}

TAVStreamInput::TAVStreamInput(QIODevice* device)
    : TAVHostObject(std::make_shared<TStreamState>(device))
{
    if (!device)
        throw Error(QStringLiteral("No stream given"));
}

QString TAVStreamInput::Url(const QString& extension) const
{
    QString url = QStringLiteral("stream:") + Number();
    if (!extension.isEmpty())
        url += extension.startsWith(QLatin1Char('.')) ? extension : QLatin1Char('.') + extension;
    return url;
}

TAVBitmapInput::TAVBitmapInput(int width, int height)
    : TAVHostObject(std::make_shared<TBitmapState>(THostKind::Bitmap))
{
    if (width <= 0 || height <= 0)
        throw Error(QStringLiteral("Invalid bitmap size %1x%2").arg(width).arg(height));
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        throw Error(QStringLiteral("Invalid bitmap size %1x%2").arg(width).arg(height));
    image.fill(Qt::black);
    auto* state = static_cast<TBitmapState*>(m_state.get());
    std::lock_guard lock(BitmapLock());
    state->bitmap = std::move(image);
}

QSize TAVBitmapInput::Size() const
{
    std::lock_guard lock(BitmapLock());
    return static_cast<TBitmapState*>(m_state.get())->bitmap.size();
}

void TAVBitmapInput::Draw(const std::function<void(QImage&)>& paint)
{
    std::lock_guard lock(BitmapLock());
    paint(static_cast<TBitmapState*>(m_state.get())->bitmap);
}

TAVBitmapCallbackInput::TAVBitmapCallbackInput(const QImage& bitmap, TCallback callback)
    : TAVHostObject(std::make_shared<TBitmapState>(THostKind::BitmapCallback))
{
    if (bitmap.isNull())
        throw Error(QStringLiteral("No bitmap given"));
    if (!callback)
        throw Error(QStringLiteral("No callback given"));
    auto* state = static_cast<TBitmapState*>(m_state.get());
    std::lock_guard lock(state->lock);
    state->callback = std::move(callback);
    std::lock_guard bitmapLock(BitmapLock());
    state->bitmap = bitmap;
}

TAVScreenInput::TAVScreenInput(const QRect& area) : TAVHostObject(std::make_shared<TScreenState>())
{
    setArea(area);
}

QRect TAVScreenInput::Area() const
{
    auto* state = static_cast<TScreenState*>(m_state.get());
    std::lock_guard lock(state->lock);
    return state->area;
}

void TAVScreenInput::setArea(const QRect& area)
{
    auto* state = static_cast<TScreenState*>(m_state.get());
    std::lock_guard lock(state->lock);
    state->area = area;
}

TAVAirInput::TAVAirInput(const QString& format) : TAVHostObject(std::make_shared<TAirState>())
{
    auto* state = static_cast<TAirState*>(m_state.get());
    std::lock_guard lock(state->lock);
    state->format = format;
}

TAVAirInput::~TAVAirInput()
{
    // A player waiting for packets ends at once.
    static_cast<TAirState*>(m_state.get())->queue->Abort();
}

TAVPacketQueue& TAVAirInput::Queue()
{
    return *static_cast<TAirState*>(m_state.get())->queue;
}

void TAVAirInput::EndOfInput()
{
    TAVPacketQueue& q = Queue();
    q.Put(const_cast<AVPacket*>(q.EofPkt()));
}

THostStreamIO::THostStreamIO(std::shared_ptr<TStreamState> state) : m_state(std::move(state))
{
    m_ctx = allocContext(this, 32768);
    std::lock_guard lock(m_state->lock);
    m_ctx->seekable = m_state->device->isSequential() ? 0 : AVIO_SEEKABLE_NORMAL;
}

THostStreamIO::~THostStreamIO()
{
    freeContext(m_ctx);
}

int THostStreamIO::Read(uint8_t* buf, int size)
{
    std::lock_guard lock(m_state->lock);
    if (!m_state->alive)
        return AVERROR(EIO);
    QIODevice* device = m_state->device;
    if (!m_rewound) {
        m_rewound = true;
        if (!device->isSequential())
            device->seek(0);
    }
    const qint64 n = device->read(reinterpret_cast<char*>(buf), size);
    if (n < 0)
        return AVERROR(EIO);
    return n == 0 ? AVERROR_EOF : int(n);
}

int64_t THostStreamIO::Seek(int64_t offset, int whence)
{
    whence &= ~AVSEEK_FORCE;
    std::lock_guard lock(m_state->lock);
    if (!m_state->alive)
        return AVERROR(EIO);
    QIODevice* device = m_state->device;
    int64_t target = 0;
    switch (whence) {
    case AVSEEK_SIZE:
        return device->isSequential() ? AVERROR(ENOSYS) : device->size();
    case SEEK_SET:
        target = offset;
        break;
    case SEEK_CUR:
        target = device->pos() + offset;
        break;
    case SEEK_END:
        target = device->size() + offset;
        break;
    default:
        throw Error(QStringLiteral("Assertion failure (StreamProtocol, line 200)"));
    }
    m_rewound = true;
    if (device->isSequential() || target < 0 || !device->seek(target))
        return AVERROR(EIO);
    return target;
}

namespace {
// Reads of the inner URL are at most this long.
constexpr int kMaxPacketSize = 65536;
} // namespace

THostBufferIO::THostBufferIO(const QString& innerUrl, const AVIOInterruptCB* interrupt,
                             AVDictionary** options)
{
    // The I/O layer takes its own options; the rest stay for the container.
    AVDictionary* mine = nullptr;
    av_dict_copy(&mine, *options, 0);
    const QByteArray url = innerUrl.toUtf8();
    const int ret = avio_open2(&m_inner, url.constData(), AVIO_FLAG_READ, interrupt, &mine);
    if (ret >= 0) {
        std::vector<QByteArray> taken;
        const AVDictionaryEntry* e = nullptr;
        while ((e = av_dict_get(*options, "", e, AV_DICT_IGNORE_SUFFIX)))
            if (!av_dict_get(mine, e->key, nullptr, AV_DICT_MATCH_CASE))
                taken.emplace_back(e->key);
        for (const QByteArray& key : taken)
            av_dict_set(options, key.constData(), nullptr, AV_DICT_MATCH_CASE);
    }
    av_dict_free(&mine);
    if (ret < 0)
        throw Error(
            QStringLiteral("buffer: can not open %1: %2").arg(innerUrl, AvResult{ret}.text()));
    try {
        m_ctx = allocContext(this, kMaxPacketSize);
    } catch (...) {
        avio_closep(&m_inner);
        throw;
    }
    m_ctx->seekable = m_inner->seekable;
}

THostBufferIO::~THostBufferIO()
{
    freeContext(m_ctx);
    avio_closep(&m_inner);
}

int THostBufferIO::Read(uint8_t* buf, int size)
{
    if (size <= 0)
        throw Error(QStringLiteral("Assertion failure (BufferProtocol, line 56)"));
    int got = 0;
    while (got < size) {
        const int n = avio_read_partial(m_inner, buf + got, std::min(size - got, kMaxPacketSize));
        if (n == 0 || n == AVERROR_EOF)
            break;
        if (n < 0)
            return n;
        got += n;
    }
    return got > 0 ? got : AVERROR_EOF;
}

int64_t THostBufferIO::Seek(int64_t offset, int whence)
{
    switch (whence & ~AVSEEK_FORCE) {
    case AVSEEK_SIZE:
        return avio_size(m_inner);
    case SEEK_SET:
        return avio_seek(m_inner, offset, SEEK_SET);
    case SEEK_CUR:
        return avio_seek(m_inner, offset, SEEK_CUR);
    case SEEK_END: {
        const int64_t size = avio_size(m_inner);
        return size < 0 ? size : avio_seek(m_inner, size + offset, SEEK_SET);
    }
    default:
        return AVERROR(EINVAL);
    }
}

bool IsHostDeviceName(const QString& inputFormat)
{
    return inputFormat == TAVBitmapInput::InputFormat() ||
           inputFormat == TAVBitmapCallbackInput::InputFormat() ||
           inputFormat == TAVScreenInput::InputFormat() ||
           inputFormat == TAVAirInput::InputFormat();
}

THostInput::THostInput() = default;

THostInput::~THostInput()
{
    Close();
}

int THostInput::Open(AVFormatContext** ic, const QString& inputFormat, const QString& url,
                     const AVInputFormat* format, AVDictionary** options)
{
    Close();
    auto fail = [ic](int code) {
        avformat_free_context(*ic);
        *ic = nullptr;
        return code;
    };

    if (IsHostDeviceName(inputFormat)) {
        std::unique_ptr<THostDevice> device = makeHostDevice(inputFormat, url);
        if (!device)
            return fail(AVERROR(EIO));
        // What a container takes for itself (probesize and the like); the rest stays unused.
        int ret = av_opt_set_dict(*ic, options);
        try {
            if (ret >= 0)
                ret = device->Open(*ic);
        } catch (...) {
            fail(0);
            throw;
        }
        if (ret < 0)
            return fail(ret);
        (*ic)->url = av_strdup(url.toUtf8().constData());
        m_device = std::move(device);
        return 0;
    }

    QByteArray target = url.toUtf8();
    try {
        if (url.startsWith(QLatin1String("stream:"))) {
            // The number ends where the extension begins.
            QString number = url.mid(7);
            if (const qsizetype dot = number.lastIndexOf(QLatin1Char('.')); dot >= 0)
                number.truncate(dot);
            auto state =
                std::static_pointer_cast<TStreamState>(FindHostObject(THostKind::Stream, number));
            if (!state)
                throw Error(QStringLiteral("stream: no host stream %1").arg(number));
            QString path;
            {
                std::lock_guard lock(state->lock);
                path = reopenablePath(state->device);
                if (path.isEmpty() && !state->device->isReadable())
                    throw Error(QStringLiteral("stream: the host stream %1 is not open for reading")
                                    .arg(number));
            }
            if (!path.isEmpty()) {
                target = "file:" + path.toUtf8();
            } else {
                m_stream = std::make_unique<THostStreamIO>(std::move(state));
                (*ic)->pb = m_stream->Context();
            }
        } else if (url.startsWith(QLatin1String("buffer:"))) {
            m_buffer =
                std::make_unique<THostBufferIO>(url.mid(7), &(*ic)->interrupt_callback, options);
            (*ic)->pb = m_buffer->Context();
        }
    } catch (const std::exception& e) {
        av_log(nullptr, AV_LOG_ERROR, "%s\n", e.what());
        Close();
        return fail(AVERROR(EIO));
    }
    // With a custom I/O context FFmpeg leaves it to us; Close frees it after the container.
    return avformat_open_input(ic, target.constData(), format, options);
}

int THostInput::ReadFrame(AVFormatContext* ic, AVPacket* pkt)
{
    return m_device ? m_device->Read(ic, pkt) : av_read_frame(ic, pkt);
}

void THostInput::Close()
{
    m_device.reset();
    m_stream.reset();
    m_buffer.reset();
}
