#pragma once

#include "player/AVThread.h"
#include "player/AVView.h"
#include "player/Clock.h"
#include "player/Decoder.h"
#include "player/FFmpegPtr.h"
#include "player/FrameQueue.h"
#include "player/HostInputs.h"
#include "player/KeepAwake.h"
#include "player/MediaLibraries.h"
#include "player/PacketQueue.h"

#include <QImage>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct Mix_Chunk;

// Held by every mixer effect while it fills its channel.
std::mutex& MixerLock();

enum TAVClock
{
    clAudio,
    clVideo,
    clExternal
};
enum TAVLogLevel
{
    llPanic,
    llFatal,
    llError,
    llWarning,
    llInfo,
    llVerbose,
    llDebug
};
enum TAVSeekMode
{
    smKeyFrame,
    smAnyFrame
};
enum TAVSeekPositionMode
{
    spDefault,
    spForwardRequest,
    spBackwardRequest
};

struct TAudioParams
{
    int freq = 0;
    int channels = 0;
    uint64_t channel_layout = 0;
    AVSampleFormat fmt = AV_SAMPLE_FMT_NONE;
    int frame_size = 0;
    int bytes_per_sec = 0;
};

// One stream of the open media, as listed per kind.
class TAVStreamProperties final
{
    Q_DISABLE_COPY_MOVE(TAVStreamProperties)
public:
    explicit TAVStreamProperties(AVStream* stream);

    AVStream* Stream() const { return m_stream; }
    const QString& CodecName() const { return m_codecName; }
    const QStringList& Metas() const { return m_metas; }
    void setMetas(const QStringList& metas) { m_metas = metas; }

private:
    AVStream* m_stream;
    QString m_codecName;
    QStringList m_metas;
};

// AlignWidth(w): the nearest multiple of 16 (halves up), at least 16.
int AlignWidth(int w);

// Sets an integer list option as binary data; the list ends at terminator.
int SetIntList(void* obj, const char* name, int flags, uint64_t terminator, int elementSize,
               const void* list);

// The player engine: opens one media at a time and decodes it on threads of its own into the
// frame queues pictq (BGRA pictures), sampq (audio) and subpq (bitmap subtitles).
//
// Host calls (configuration, OpenMovie, CloseMovie, Position, Pause/Play) come from one thread,
// the UI thread. The worker threads are the read thread and one decoding thread per open stream.
class TAVPlayer final : public QObject, public IAVLogger
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TAVPlayer)
public:
    explicit TAVPlayer(QObject* parent = nullptr);
    ~TAVPlayer() override;

    // Configuration; takes effect at the next open.
    QString InputFormat() const { return FInputFormat; }
    void setInputFormat(const QString& value) { FInputFormat = value; }
    QStringList Options() const { return FOptions; }
    void setOptions(const QStringList& value) { FOptions = value; }
    int ThreadCount() const { return FThreadCount; }
    void setThreadCount(int value) { FThreadCount = value; }
    QString VideoFilters() const;
    void setVideoFilters(const QString& value);
    QString AudioFilters() const;
    void setAudioFilters(const QString& value);
    bool FrameDrop() const { return FFrameDrop; }
    void setFrameDrop(bool value) { FFrameDrop = value; }
    double Volume() const { return FVolume; }
    // Takes effect at once while playing: the audio thread passes it to its volume stage.
    void setVolume(double value);
    TAVLogLevel LogLevel() const { return FLogLevel; }
    void setLogLevel(TAVLogLevel value) { FLogLevel = value; }
    TAVClock ClockType() const { return FClockType; }
    void setClockType(TAVClock value) { FClockType = value; }
    bool DisableVideo() const { return FDisableVideo; }
    void setDisableVideo(bool value) { FDisableVideo = value; }
    bool DisableAudio() const { return FDisableAudio; }
    void setDisableAudio(bool value) { FDisableAudio = value; }
    bool DisableSubtitle() const { return FDisableSubtitle; }
    void setDisableSubtitle(bool value) { FDisableSubtitle = value; }
    bool RGBMode() const { return FRGBMode; }
    void setRGBMode(bool value) { FRGBMode = value; }
    bool HardwareAccelerated() const { return FHardwareAccelerated; }
    void setHardwareAccelerated(bool value) { FHardwareAccelerated = value; }
    int Timeout() const { return FTimeout; }
    void setTimeout(int value) { FTimeout = value; }
    int64_t StartTime() const { return FStartTime; }
    void setStartTime(int64_t value) { FStartTime = value; }
    int64_t EndTime() const { return FEndTime; }
    void setEndTime(int64_t value) { FEndTime = value; }
    TAVSeekMode SeekMode() const { return FSeekMode; }
    void setSeekMode(TAVSeekMode value) { FSeekMode = value; }
    TAVSeekPositionMode SeekPositionMode() const { return FSeekPositionMode; }
    void setSeekPositionMode(TAVSeekPositionMode value) { FSeekPositionMode = value; }

    // Opens AMovie; with Block the whole open runs inside the call and a failure raises
    // "Failed to open the file:...".
    // Without Block the open runs on a thread of its own; a failure raises OnConnectionError.
    void OpenMovie(const QString& AMovie, bool Paused, bool Block);
    // Stops every thread and releases the media; does nothing when nothing is open.
    void CloseMovie();
    void Play();
    void Pause();
    void StepForward();

    bool Playing() const;
    bool Paused() const { return FPaused; }
    // Seconds of the play range; 0 when the container has no duration (see Infinite).
    double Duration() const { return FDuration; }
    bool Infinite() const { return FInfinite; }
    double Position() const;
    // An asynchronous seek; the read thread performs it.
    void setPosition(double x);
    QStringList Metadatas() const;
    QString LastErrorMessage() const;
    int VideoWidth() const { return m_videoWidth; }
    int VideoHeight() const { return m_videoHeight; }
    int VideoStreamIndex() const { return FVideoStreamIndex; }
    int AudioStreamIndex() const { return FAudioStreamIndex; }
    int SubtitleStreamIndex() const { return FSubtitleStreamIndex; }
    // Selecting another stream while playing; the read thread swaps it.
    void setVideoStreamIndex(int value);
    void setAudioStreamIndex(int value);
    void setSubtitleStreamIndex(int value);
    // The stream lists are final once the open succeeded; a non-blocking open fills them on
    // its own thread, so until then they read as empty.
    int VideoStreamCount() const { return Playing() ? int(FVideoIdxList.size()) : 0; }
    int AudioStreamCount() const { return Playing() ? int(FAudioIdxList.size()) : 0; }
    int SubtitleStreamCount() const { return Playing() ? int(FSubtitleIdxList.size()) : 0; }
    using TStreamPropertyList = std::vector<std::unique_ptr<TAVStreamProperties>>;
    const TStreamPropertyList& VideoStreamProperties() const { return openList(FVideoPropList); }
    const TStreamPropertyList& AudioStreamProperties() const { return openList(FAudioPropList); }
    const TStreamPropertyList& SubtitleStreamProperties() const
    {
        return openList(FSubtitlePropList);
    }
    AVCodecContext* VideoCodecCtx() const { return viddec ? viddec->avctx() : nullptr; }
    AVCodecContext* AudioCodecCtx() const { return auddec ? auddec->avctx() : nullptr; }

    // The engine's queues, for the output side. Valid from a successful open to CloseMovie.
    TFrameQueue* PictureQueue() const { return pictq.get(); }
    TFrameQueue* SampleQueue() const { return sampq.get(); }
    TFrameQueue* SubtitleFrameQueue() const { return subpq.get(); }
    TAVPacketQueue* VideoQueue() const { return FVideoQ.get(); }
    TAVPacketQueue* AudioQueue() const { return FAudioQ.get(); }
    TAVPacketQueue* SubtitleQueue() const { return FSubtitleQ.get(); }
    TAudioParams AudioTarget() const { return audio_tgt; }

    // Without outputs no mixer channel is opened: a host reads the frame queues itself (engine
    // tests). Takes effect at the next open.
    bool OutputEnabled() const { return m_outputEnabled; }
    void setOutputEnabled(bool value) { m_outputEnabled = value; }
    // Monotonic microseconds of the last fill and bytes of decoded audio it left over.
    int64_t AudioCallbackTime() const { return FAudioCallbackTime; }
    int AudioWriteBufSize() const { return audio_write_buf_size; }

    // Called by the mixer's effect on its audio thread, under MixerLock.
    void FillAudio(uint8_t* stream, int len);

    // Draws a picture (as OnVideoDisplay hands it over) into the host's image, which takes the
    // picture's size. Raises "TAVView only support RGB Mode" without RGBMode.
    void DrawVideo(QImage& Surface, const AVFrame* AFrame) const;

    // Displays, UI thread. Each picture goes to the first display that takes it.
    void RegisterView(IAVView* AView);
    void UnRegisterView(IAVView* AView);
    // Shown on the displays while audio-only media plays. Setting it copies the picture and
    // resizes every display to it.
    QImage CoverImage() const;
    void setCoverImage(const QImage& value);
    bool Loop() const { return FLoop; }
    void setLoop(bool value) { FLoop = value; }
    double FPS() const { return FFps; }
    // Pictures handed to the displays and late pictures dropped since the open.
    int64_t FramesShown() const { return FFrameNumber; }
    int64_t FramesDropped() const { return m_framesDropped; }
    AVRational SampleAspectRatio() const { return FSar; }
    // Current values of the audio and video clocks in seconds (NaN when invalid).
    double AudioClock() const { return GetClock(audclk); }
    double VideoClock() const { return GetClock(vidclk); }

    // Runs task on the UI thread and waits for it (a synchronous hand-over). From the UI thread
    // it runs at once. Returns false when the player aborted before the task ran. Rethrows
    // what the task threw.
    bool RunOnUiThread(const std::function<void()>& task);

    // IAVLogger; called on the thread that logged.
    void WriteLog(int level, const QString& text) override;
    int GetLevel() const override;

    // Every 30 s from creation: keeps the screen saver off while media plays unpaused.
    void KeepAwakeTick();

    // Called by a video or audio decoder that takes the end-of-input marker.
    void DoPlaybackFinished();
    // Set by DoPlaybackFinished, cleared by the state timer of the player component.
    bool PlaybackFinished() const { return FPlaybackFinished; }
    void clearPlaybackFinished() { FPlaybackFinished = false; }

signals:
    // Emitted on the thread that logged, for lines at or above LogLevel.
    void OnLog(TAVPlayer* sender, int level, const QString& log);
    void OnStart(TAVPlayer* sender);
    void OnConnectionError(TAVPlayer* sender, const QString& Error);
    void OnPlaybackFinished(TAVPlayer* sender);
    // Emitted on the UI thread before the displays draw the picture.
    void OnVideoDisplay(TAVPlayer* sender, const AVFrame* AFrame);
    // Emitted on the mixer's audio thread with each piece of 16-bit stereo audio it plays.
    void OnAudioBuffer(TAVPlayer* sender, const uint8_t* AudioBuf, int DataSize);

private:
    friend class TAVReadThread;
    friend class TAVVideoThread;
    friend class TAVAudioThread;
    friend class TAVSubtitleThread;
    friend class TAVRefreshThread;
    friend class TAVOpenThread;

    const TStreamPropertyList& openList(const TStreamPropertyList& list) const;
    void DoOpenMovie();
    bool StreamOpen();
    void SetOption(const QString& name, const QString& value);
    void PassRawAudioOptions();
    Dictionary FilterCodecOptions(AVCodecID codecId, AVStream* st, const AVCodec* codec) const;
    static int DecodeInterrupt(void* opaque);
    void CollectMetadata();
    int SelectedVideoStream() const;
    int SelectedAudioStream() const;
    int SelectedSubtitleStream() const;
    CodecPointer AllocCodecContext(AVStream* st);
    const AVCodec* OpenCodec(AVCodecContext* ctx, AVStream* st, const AVCodec* codec);
    bool OpenVideoComponent();
    bool OpenAudioComponent();
    bool OpenSubtitleComponent();
    void CloseVideoComponent();
    void CloseAudioComponent();
    void CloseSubtitleComponent();
    void ReleaseMedia(bool fromOpenThread = false);
    void PutEofMarker(int& lastPktType);
    void OpenAudioOutput(const AVCodecContext* ctx);
    int openMixerDevice();
    void OpenMixerChannel();
    void CloseMixerChannel();
    int DecodeAudioFrame();
    int SynchronizeAudio(int nb_samples);
    void CheckExternalClockSpeed();
    void RefreshVideo();
    double ComputeTargetDelay(double delay) const;
    double FrameDuration(const TVideoFrame* vp, const TVideoFrame* next) const;
    void UpdateVideoPts(double pts, int64_t pos, int serial);
    void DisplayVideoImage();
    void BlendSubtitleRect(TVideoFrame* vp, const AVSubtitleRect* rect);
    void ShowPicture();
    void ShowCover();
    void ResetViews();
    void StateTimerTick();
    void serveHandOvers();
    void abortHandOvers();
    // UI thread: waits for a worker thread to end while serving its hand-overs.
    void waitServing(TAVThread* thread);
    void TogglePause();
    int GetMasterSyncType() const;
    double GetMasterClock() const;

    // Filter chains (Filters.cpp), built by the decoding threads.
    int ConfigureAudioFilters(bool force);
    int ConfigureFilterGraph(AVFilterGraph* graph, const QString& filters, AVFilterContext* source,
                             AVFilterContext* last);
    void ConfigureVideoFilters(AVFrame* frame);
    int QueuePicture(AVFrame* frame, double pts, double duration, int64_t pos, int serial);
    int GetVideoFrame(AVFrame* frame);

    // Configuration. What the worker threads read is atomic, so that a host may change it at
    // any time.
    QString FInputFormat;
    QStringList FOptions;
    int FThreadCount = 1;
    mutable std::mutex m_filterTextLock;
    QString FVideoFilters;
    QString FAudioFilters;
    std::atomic<bool> FVideoFiltersChanged = false;
    std::atomic<bool> FAudioFiltersChanged = false;
    std::atomic<bool> FFrameDrop = true;
    std::atomic<double> FVolume = 1.0;
    std::atomic<TAVLogLevel> FLogLevel = llWarning;
    std::atomic<TAVClock> FClockType = clAudio;
    std::atomic<bool> FDisableVideo = false;
    std::atomic<bool> FDisableAudio = false;
    std::atomic<bool> FDisableSubtitle = false;
    std::atomic<bool> FRGBMode = true;
    bool FHardwareAccelerated = false;
    std::atomic<int> FTimeout = 30;
    std::atomic<int64_t> FStartTime = AV_NOPTS_VALUE;
    std::atomic<int64_t> FEndTime = AV_NOPTS_VALUE;
    std::atomic<TAVSeekMode> FSeekMode = smKeyFrame;
    std::atomic<TAVSeekPositionMode> FSeekPositionMode = spDefault;

    // Open state.
    QString FMovie;
    bool FInitPaused = false;
    std::atomic<bool> FBlockOpen = true;
    THostInput m_hostInput; // the host's object behind FIc, if any; outlives it
    FormatPointer FIc;
    const AVInputFormat* FFormat = nullptr;
    Dictionary format_opts;
    Dictionary codec_opts;
    std::atomic<double> FDuration = 0;
    bool FInfinite = false;
    bool FIsRealTime = false;
    mutable std::mutex m_textLock; // FMetadatas and FLastErrorMessage
    QStringList FMetadatas;
    QString FLastErrorMessage;

    // Streams: per kind the container stream numbers, their properties and the selected
    // position in that list.
    std::vector<int> FVideoIdxList, FAudioIdxList, FSubtitleIdxList;
    std::vector<std::unique_ptr<TAVStreamProperties>> FVideoPropList, FAudioPropList,
        FSubtitlePropList;
    std::atomic<int> FVideoStreamIndex = -1, FAudioStreamIndex = -1, FSubtitleStreamIndex = -1;
    std::atomic<AVStream*> FVideoStream = nullptr;
    std::atomic<AVStream*> FAudioStream = nullptr;
    std::atomic<AVStream*> FSubtitleStream = nullptr;
    std::atomic<bool> FVideoStreamChanged = false, FAudioStreamChanged = false,
                      FSubtitleStreamChanged = false;

    // Flow control.
    std::atomic<bool> FAbortRequest = false;
    std::atomic<bool> FPaused = false;
    bool FLastPaused = false;
    std::atomic<int> FReadPauseReturn = 0;
    std::atomic<int> FStep = 0;
    std::atomic<bool> FSeekReq = false;
    std::atomic<int64_t> FSeekPos = 0;
    std::atomic<int64_t> FSeekRel = 0;
    std::atomic<double> FSavedPosition = 0;
    bool FClosed = true;
    std::atomic<bool> m_mediaOpen = false; // from a successful open to its release
    std::atomic<bool> FPlaybackFinished = false;
    std::atomic<bool> queue_attachments_req = false;
    std::atomic<int64_t> FReadTime = 0;

    // Marker packets: their data pointers identify them in the queues.
    PacketPointer FFlushPkt;
    PacketPointer FEofPkt;

    // Owned objects of the open media.
    std::unique_ptr<TAVPacketQueue> FVideoQ, FAudioQ, FSubtitleQ;
    std::unique_ptr<TFrameQueue> pictq, sampq, subpq;
    std::unique_ptr<TDecoder> viddec, auddec, subdec;
    std::unique_ptr<TAVThread> FReadThread;
    std::condition_variable continue_read_thread;

    // Timing shared with the output side.
    double max_frame_duration = 10.0;
    std::atomic<double> frame_last_returned_time = 0;
    std::atomic<double> frame_last_filter_delay = 0;
    std::atomic<double> frame_timer = 0;
    TClock audclk, vidclk, extclk;

    // Audio chain (audio thread; the open builds the first one).
    TAudioParams audio_filter_src;
    TAudioParams audio_tgt;
    TAudioParams audio_src;
    FilterGraphPointer agraph;
    AVFilterContext* in_audio_filter = nullptr;
    AVFilterContext* out_audio_filter = nullptr;
    AVFilterContext* FVolumeCtx = nullptr;
    std::atomic<bool> m_volumeChanged = false;

    // Audio output (the mixer's thread once the channel plays).
    struct MixChunkDeleter
    {
        void operator()(Mix_Chunk* chunk) const;
    };
    struct AvFreeDeleter
    {
        void operator()(uint8_t* p) const { av_free(p); }
    };
    bool m_outputEnabled = true;
    SwresamplePointer FSwrCtx;
    const uint8_t* FAudioBuf = nullptr;
    std::unique_ptr<uint8_t, AvFreeDeleter> FAudioBuf1;
    unsigned audio_buf1_size = 0;
    unsigned FAudioBufSize = 0;
    unsigned audio_buf_index = 0;
    std::atomic<int> audio_write_buf_size = 0;
    uint8_t FSilenceBuf[1024] = {};
    uint8_t chunk_buffer[1024] = {};
    std::unique_ptr<Mix_Chunk, MixChunkDeleter> chunk_movie;
    int mix_movie_channel = -1;
    int FAudioHWBufSize = 0;
    std::atomic<int64_t> FAudioCallbackTime = 0;
    double audio_clock = 0;
    int audio_clock_serial = -1;
    double audio_diff_cum = 0;
    double audio_diff_avg_coef = 0;
    int audio_diff_avg_count = 0;
    double audio_diff_threshold = 0;

    // Video output.
    std::unique_ptr<TAVThread> FRefreshThread;
    std::unique_ptr<TAVThread> FOpenThread;
    std::atomic<bool> FRefresh = false;
    std::mutex m_refreshLock; // a refresh pass; a filter change flushes pictq under it
    TVideoFrame* FCurrentVP = nullptr;
    std::atomic<int64_t> FFrameNumber = 0;
    std::atomic<int64_t> m_framesDropped = 0;
    int64_t FFPSTime = 0;
    std::atomic<double> FFps = 0;
    bool FLoop = false;
    QTimer FStateTimer;
    QTimer FTimer; // keep-awake
    TKeepAwake m_keepAwake;
    mutable std::mutex FMutex; // the display list and the cover image
    std::vector<IAVView*> FViewList;
    QImage FCoverImage; // ARGB32: BGRA bytes, as the displays take them

    // Synchronous hand-overs from worker threads to the UI thread.
    struct HandOver
    {
        std::function<void()> task;
        bool taken = false;
        bool done = false;
        std::exception_ptr error;
    };
    std::mutex m_handOverLock;
    std::condition_variable m_handOverDone;
    std::deque<HandOver*> m_handOvers;

    // Video chain (video thread).
    FilterGraphPointer video_graph;
    AVFilterContext* filt_src = nullptr;
    AVFilterContext* filt_out = nullptr;
    std::atomic<AVRational> FSar = AVRational{0, 1};
    std::atomic<int> m_videoWidth = 0;
    std::atomic<int> m_videoHeight = 0;
};
