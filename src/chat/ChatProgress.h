#pragma once

#include <QDialog>

class QProgressBar;

// The progress window shown while a page is built: one bar, percent, no buttons.
// Stands in for the main window's TFormProgress until both are merged; same face and use.
class ChatProgress final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ChatProgress)

public:
    explicit ChatProgress(QWidget* parent = nullptr);

    double Progress() const;
    void setProgress(double percent);

    QProgressBar* pbProgress = nullptr;
};
