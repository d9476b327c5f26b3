#pragma once

#include "player/FFmpegPtr.h"

#include <QImage>
#include <QRect>
#include <QString>

#include <cstdint>

// A display a player draws into. Every call comes on the UI thread.
class IAVView
{
public:
    virtual ~IAVView() = default;
    // Draws one BGRA picture; the frame is only valid during the call.
    virtual void DrawFrame(const AVFrame* frame) = 0;
    // Resizes the display's picture; 0 x 0 empties it.
    virtual void SetVideoSize(int width, int height) = 0;
    // Fills the picture with one ARGB colour.
    virtual void ClearView(uint32_t color) = 0;
    // The bound player goes away; the display must forget it.
    virtual void DetachPlayer() {}
};

// Where a display of size control paints a bitmap: as large as fits, centred, keeping the
// picture's aspect (the bitmap's shape times the sample aspect ratio; 0/1 means square),
// width and height even.
QRect FitRect(const QSize& control, const QSize& bitmap, AVRational sar);

// Media time as "hh:mm:ss.ff", or compact as "hh:mm:ss" / "m:s".
QString FormatMediaTime(bool compact, double seconds);

// Copies one BGRA picture into image, which takes the picture's size (as RGB32: opaque
// whatever the alpha bytes hold). Rows are min(line size / 4, width) pixels long.
void CopyFrameToImage(const AVFrame* frame, int width, QImage& image);

// A host's BGRA pixel buffer of a given size, copied to and from images. The buffer stays the
// host's; the carrier only points at it.
class TAVBitmap final
{
public:
    void Create(uint8_t* ABuf, int VideoWidth, int VideoHeight);
    // Resizes ABitmap to the buffer's size when it differs, then copies the buffer in.
    void CopyDataToBitmap(QImage& ABitmap) const;
    // ABitmap must have the buffer's size ("Bitmap Width incorrect", "Bitmap Height
    // incorrect"); its pixels are copied into the buffer as BGRA.
    void CopyDataFromBitmap(const QImage& ABitmap) const;

    uint8_t* FBuffer = nullptr;
    int FVideoWidth = 0;
    int FVideoHeight = 0;
};
