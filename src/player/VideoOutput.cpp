// Video output: the refresh thread decides when each decoded picture is due and hands it to
// the UI thread, which draws it into the first display.
#include "player/AVPlayer.h"
#include "player/Threads.h"

#include "util/Error.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

using namespace std::chrono_literals;

namespace {
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
}

// ---- Hand-over to the UI thread -------------------------------------------------------------

bool TAVPlayer::RunOnUiThread(const std::function<void()>& task)
{
    if (QThread::currentThread() == thread()) {
        task();
        return true;
    }
    HandOver h{task};
    {
        std::unique_lock lock(m_handOverLock);
        if (FAbortRequest)
            return false;
        m_handOvers.push_back(&h);
    }
    QMetaObject::invokeMethod(this, &TAVPlayer::serveHandOvers, Qt::QueuedConnection);
    std::unique_lock lock(m_handOverLock);
    // An abort releases a task the UI thread has not taken yet; one it runs is waited for.
    m_handOverDone.wait(lock, [&] { return h.done || (FAbortRequest && !h.taken); });
    if (!h.done) {
        m_handOvers.erase(std::find(m_handOvers.begin(), m_handOvers.end(), &h));
        return false;
    }
    if (h.error)
        std::rethrow_exception(h.error);
    return true;
}

void TAVPlayer::serveHandOvers()
{
    for (;;) {
        HandOver* h = nullptr;
        {
            std::lock_guard lock(m_handOverLock);
            if (m_handOvers.empty())
                return;
            h = m_handOvers.front();
            m_handOvers.pop_front();
            h->taken = true;
        }
        try {
            h->task();
        } catch (...) {
            h->error = std::current_exception();
        }
        std::lock_guard lock(m_handOverLock);
        h->done = true;
        m_handOverDone.notify_all();
    }
}

void TAVPlayer::abortHandOvers()
{
    std::lock_guard lock(m_handOverLock);
    m_handOverDone.notify_all();
}

void TAVPlayer::waitServing(TAVThread* t)
{
    if (!t)
        return;
    while (!t->Finished()) {
        serveHandOvers();
        std::this_thread::sleep_for(1ms);
    }
    t->WaitFor();
}

// ---- Displays --------------------------------------------------------------------------------

void TAVPlayer::RegisterView(IAVView* AView)
{
    {
        std::lock_guard lock(FMutex);
        if (std::find(FViewList.begin(), FViewList.end(), AView) != FViewList.end())
            return;
        FViewList.push_back(AView);
    }
    if (m_videoWidth > 0 && m_videoHeight > 0)
        AView->SetVideoSize(AlignWidth(m_videoWidth), m_videoHeight);
}

void TAVPlayer::UnRegisterView(IAVView* AView)
{
    std::lock_guard lock(FMutex);
    FViewList.erase(std::remove(FViewList.begin(), FViewList.end(), AView), FViewList.end());
}

// UI thread.
void TAVPlayer::ResetViews()
{
    std::vector<IAVView*> views;
    {
        std::lock_guard lock(FMutex);
        views = FViewList;
    }
    for (IAVView* v : views) {
        v->SetVideoSize(AlignWidth(m_videoWidth), m_videoHeight);
        v->ClearView(0xFF000000);
    }
}

// UI thread: the first display draws the picture; later hand-overs of the same slot draw
// nothing.
void TAVPlayer::ShowPicture()
{
    if (FAbortRequest)
        return;
    if (FCurrentVP && FCurrentVP->bmp)
        emit OnVideoDisplay(this, FCurrentVP->bmp.get());
    std::vector<IAVView*> views;
    {
        std::lock_guard lock(FMutex);
        views = FViewList;
    }
    for (IAVView* v : views) {
        if (!FCurrentVP || !FCurrentVP->bmp)
            break;
        v->DrawFrame(FCurrentVP->bmp.get());
        FCurrentVP->bmp.reset();
    }
    const int64_t now = av_gettime_relative();
    if (FFrameNumber == 0)
        FFPSTime = now;
    ++FFrameNumber;
    const int64_t seconds = std::max<int64_t>(1, (now - FFPSTime) / 1000000);
    FFps = double(FFrameNumber) / double(seconds);
}

void TAVPlayer::DrawVideo(QImage& Surface, const AVFrame* AFrame) const
{
    if (!FRGBMode)
        throw Error(QStringLiteral("TAVView only support RGB Mode"));
    if (AFrame)
        CopyFrameToImage(AFrame, AFrame->width, Surface);
}

QImage TAVPlayer::CoverImage() const
{
    std::lock_guard lock(FMutex);
    return FCoverImage;
}

// UI thread.
void TAVPlayer::setCoverImage(const QImage& value)
{
    // A deep copy: the host may paint on its picture while the displays read ours.
    QImage cover = value.convertToFormat(QImage::Format_ARGB32).copy();
    std::vector<IAVView*> views;
    {
        std::lock_guard lock(FMutex);
        FCoverImage = std::move(cover);
        views = FViewList;
    }
    for (IAVView* v : views)
        v->SetVideoSize(FCoverImage.width(), FCoverImage.height());
}

// Refresh thread, audio-only media: the cover image goes to the displays like a picture, through
// a frame header that points at its pixels and owns nothing.
void TAVPlayer::ShowCover()
{
    {
        std::lock_guard lock(FMutex);
        if (FCoverImage.isNull())
            return;
    }
    if (!pictq)
        return;
    TVideoFrame* slot = pictq->first_slot();
    FCurrentVP = slot;
    slot->bmp.reset(av_frame_alloc());
    if (!slot->bmp)
        return;
    RunOnUiThread([this, slot] {
        // The setter runs on this thread too, so the picture cannot change meanwhile.
        AVFrame* header = slot->bmp.get();
        if (!header || FCoverImage.isNull())
            return;
        header->data[0] = const_cast<uint8_t*>(FCoverImage.constBits());
        header->linesize[0] = int(FCoverImage.bytesPerLine());
        header->width = FCoverImage.width();
        header->height = FCoverImage.height();
        header->format = AV_PIX_FMT_BGRA;
        ShowPicture();
    });
    slot->bmp.reset();
    for (int i = 0; i < 10 && !FAbortRequest; ++i)
        std::this_thread::sleep_for(10ms);
}

// ---- Refresh ---------------------------------------------------------------------------------

void TAVRefreshThread::Execute()
{
    TAVPlayer* p = FPlayer;
    while (!p->FAbortRequest) {
        if (!p->FRefresh && !p->FPaused) {
            std::lock_guard lock(p->m_refreshLock);
            p->FRefresh = true;
            p->RefreshVideo();
            p->FRefresh = false;
        }
        const bool audioOnly = p->FAudioStream && !p->FVideoStream;
        std::this_thread::sleep_for(audioOnly ? 20ms : 5ms);
    }
}

double TAVPlayer::FrameDuration(const TVideoFrame* vp, const TVideoFrame* next) const
{
    if (vp->serial != next->serial)
        return 0;
    const double d = next->pts - vp->pts;
    if (std::isnan(d) || d <= 0 || d > max_frame_duration)
        return vp->duration;
    return d;
}

double TAVPlayer::ComputeTargetDelay(double delay) const
{
    if (GetMasterSyncType() == clVideo)
        return delay;
    const double diff = GetClock(vidclk) - GetMasterClock();
    const double threshold = std::max(0.04, std::min(0.1, delay));
    if (!std::isnan(diff) && std::fabs(diff) < max_frame_duration) {
        if (diff <= -threshold)
            delay = std::max(0.0, delay + diff);
        else if (diff >= threshold && delay > 0.1)
            delay = delay + diff;
        else if (diff >= threshold)
            delay = 2 * delay;
    }
    return delay;
}

void TAVPlayer::UpdateVideoPts(double pts, int64_t, int serial)
{
    SetClock(vidclk, pts, serial);
    SyncClockToSlave(extclk, vidclk);
}

void TAVPlayer::RefreshVideo()
{
    if (!FPaused && GetMasterSyncType() == clExternal && FIsRealTime)
        CheckExternalClockSpeed();
    if (!FVideoStream) {
        if (FAudioStream)
            ShowCover();
        return;
    }
    while (pictq->nb_remaining() > 0) {
        TVideoFrame* last = pictq->peek_last();
        TVideoFrame* vp = pictq->peek();
        if (vp->serial != FVideoQ->Serial()) {
            pictq->next();
            continue;
        }
        if (last->serial != vp->serial)
            frame_timer = nowSeconds();
        if (FPaused)
            break;
        const double delay = ComputeTargetDelay(FrameDuration(last, vp));
        const double time = nowSeconds();
        if (time < frame_timer + delay)
            return;
        frame_timer = frame_timer + delay;
        if (delay > 0 && time - frame_timer > 0.1)
            frame_timer = time;
        if (!std::isnan(vp->pts))
            UpdateVideoPts(vp->pts, vp->pos, vp->serial);
        if (pictq->nb_remaining() > 1) {
            TVideoFrame* next = pictq->peek_next();
            if (!(FStep & 2) && FFrameDrop && time > frame_timer + FrameDuration(vp, next)) {
                ++m_framesDropped;
                pictq->next();
                continue;
            }
        }
        if (FSubtitleStream && subpq) {
            while (subpq->nb_remaining() > 0) {
                TVideoFrame* sp = subpq->peek();
                TVideoFrame* sp2 = subpq->nb_remaining() > 1 ? subpq->peek_next() : nullptr;
                const double v = GetClock(vidclk);
                if (sp->serial == FSubtitleQ->Serial() &&
                    v <= sp->pts + sp->sub.end_display_time / 1000.0 &&
                    (!sp2 || v <= sp2->pts + sp2->sub.start_display_time / 1000.0))
                    break;
                subpq->next();
            }
        }
        pictq->next();
        if (FStep != 0 && !FPaused) {
            if ((FStep &= ~2) == 0)
                TogglePause();
        }
        break;
    }
    if (pictq->rindex_shown() == 0)
        return;
    DisplayVideoImage();
}

void TAVPlayer::DisplayVideoImage()
{
    TVideoFrame* vp = pictq->peek_last();
    if (FSubtitleStream && subpq && subpq->nb_remaining() > 0 && vp->bmp) {
        TVideoFrame* sp = subpq->peek();
        if (vp->pts >= sp->pts + sp->sub.start_display_time / 1000.0)
            for (unsigned i = 0; i < sp->sub.num_rects; ++i)
                BlendSubtitleRect(vp, sp->sub.rects[i]);
    }
    FCurrentVP = vp;
    RunOnUiThread([this] { ShowPicture(); });
}

void TAVPlayer::BlendSubtitleRect(TVideoFrame* vp, const AVSubtitleRect* rect)
{
    AVFrame* f = vp->bmp.get();
    if (!f || f->format != AV_PIX_FMT_BGRA || !rect->data[0] || !rect->data[1])
        return;
    if (av_frame_make_writable(f) < 0)
        return;
    const int w = std::clamp(rect->w, 0, std::min(AlignWidth(m_videoWidth), f->width));
    const int h = std::clamp(rect->h, 0, std::min(int(m_videoHeight), f->height));
    const int x = std::clamp(rect->x, 0, std::max(0, f->width - w));
    const int y = std::clamp(rect->y, 0, std::max(0, f->height - h));
    const auto* palette = reinterpret_cast<const uint32_t*>(rect->data[1]);
    for (int j = 0; j < h; ++j) {
        const uint8_t* src = rect->data[0] + j * rect->linesize[0];
        uint8_t* dst = f->data[0] + (y + j) * f->linesize[0] + x * 4;
        for (int i = 0; i < w; ++i, dst += 4) {
            const uint32_t c = palette[src[i]];
            const uint32_t a = c >> 24;
            if (!a)
                continue;
            const uint32_t rgb[3] = {c & 0xff, (c >> 8) & 0xff, (c >> 16) & 0xff}; // B, G, R
            for (int k = 0; k < 3; ++k)
                dst[k] = uint8_t(((255 - a) * dst[k] + a * rgb[k]) / 255);
        }
    }
}

// ---- State timer and non-blocking open -------------------------------------------------------

void TAVPlayer::StateTimerTick()
{
    if (FPlaybackFinished && Playing()) {
        FPlaybackFinished = false;
        emit OnPlaybackFinished(this);
        if (FLoop)
            setPosition(0);
    }
    FPlaybackFinished = false;
}

void TAVOpenThread::Execute()
{
    FPlayer->DoOpenMovie();
}
