#pragma once

#include <QWidget>

class QProgressBar;

// A small stay-on-top window with one progress bar, shown by its owner around a long
// operation. It has no buttons; the bar repaints when the owner lets pending events run.
class TFormProgress final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormProgress)

public:
    explicit TFormProgress(QWidget* owner = nullptr);

    // Percent, 0 to 100.
    double Progress() const;
    void setProgress(double percent);

    QProgressBar* pbProgress = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void retranslateUi();
};
