#pragma once

#include "player/AVPlayer.h"
#include "player/AVView.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

class TAVPlayer;

// A display bound to one player: it keeps the last picture the player drew and paints it
// into FitRect, unsmoothed. UI thread only.
class TAVView final : public QWidget, public IAVView
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TAVView)
public:
    explicit TAVView(QWidget* parent = nullptr);
    ~TAVView() override;

    TAVPlayer* Player() const { return FPlayer; }
    // Unregisters from the old player and registers with the new one.
    void setPlayer(TAVPlayer* player);
    int SlideshowTag() const { return FSlideTag; }
    void setSlideshowTag(int tag) { FSlideTag = tag; }
    bool DisableInterpolation() const { return m_disableInterpolation; }
    void setDisableInterpolation(bool value);
    const QImage& Bitmap() const { return m_bitmap; }

    // IAVView
    void DrawFrame(const AVFrame* frame) override;
    void SetVideoSize(int width, int height) override;
    void ClearView(uint32_t color) override;
    void DetachPlayer() override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QPointer<TAVPlayer> FPlayer;
    int FSlideTag = 0;
    bool m_disableInterpolation = true;
    QImage m_bitmap;
};
