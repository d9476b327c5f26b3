#include "player/TAVView.h"

#include "player/AVPlayer.h"
#include "util/Error.h"

#include <QPainter>

#include <cstring>

TAVView::TAVView(QWidget* parent) : QWidget(parent)
{
    LoadMediaLibraries();
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

TAVView::~TAVView()
{
    setPlayer(nullptr);
}

void TAVView::setPlayer(TAVPlayer* player)
{
    if (FPlayer == player)
        return;
    if (FPlayer)
        FPlayer->UnRegisterView(this);
    FPlayer = player;
    if (FPlayer)
        FPlayer->RegisterView(this);
}

void TAVView::DetachPlayer()
{
    FPlayer = nullptr;
}

void TAVView::setDisableInterpolation(bool value)
{
    m_disableInterpolation = value;
    update();
}

void TAVView::DrawFrame(const AVFrame* frame)
{
    if (!FPlayer || !FPlayer->RGBMode())
        throw Error(QStringLiteral("TAVView only support RGB Mode"));
    if (m_bitmap.isNull() || !frame || !frame->data[0])
        return;
    // A cover image keeps its own width; the video chain's pictures are already aligned.
    const int w = std::min(std::max(AlignWidth(frame->width), frame->width), m_bitmap.width());
    const int h = std::min(frame->height, m_bitmap.height());
    const int pixels = std::min(frame->linesize[0] / 4, w);
    // RGB32 paints every pixel opaque, whatever the picture's alpha byte holds.
    for (int y = 0; y < h; ++y)
        std::memcpy(m_bitmap.scanLine(y), frame->data[0] + y * frame->linesize[0],
                    size_t(pixels) * 4);
    update();
}

void TAVView::SetVideoSize(int width, int height)
{
    if (width <= 0 || height <= 0)
        m_bitmap = QImage();
    else if (m_bitmap.width() != width || m_bitmap.height() != height) {
        m_bitmap = QImage(width, height, QImage::Format_RGB32);
        m_bitmap.fill(Qt::black);
    }
    update();
}

void TAVView::ClearView(uint32_t color)
{
    if (!m_bitmap.isNull())
        m_bitmap.fill(QColor::fromRgba(color));
    update();
}

void TAVView::paintEvent(QPaintEvent*)
{
    if (m_bitmap.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, !m_disableInterpolation);
    const AVRational sar = FPlayer ? FPlayer->SampleAspectRatio() : AVRational{0, 1};
    painter.drawImage(FitRect(size(), m_bitmap.size(), sar), m_bitmap);
}
