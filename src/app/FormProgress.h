#pragma once

#include <QWidget>

class QProgressBar;
class QPushButton;

// A small stay-on-top window with one progress bar, shown by its owner around a long
// operation; the bar repaints when the owner lets pending events run. For work of unknown
// length done on another thread it shows a busy bar and a Cancel button instead.
class TFormProgress final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TFormProgress)

public:
    explicit TFormProgress(QWidget* owner = nullptr);

    // Percent, 0 to 100.
    double Progress() const;
    void setProgress(double percent);

    // A moving bar without a percentage, and a Cancel button that emits cancelled().
    void setBusy(const QString& title);

    QProgressBar* pbProgress = nullptr;
    QPushButton* btnCancel = nullptr; // shown only while busy

signals:
    void cancelled();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void retranslateUi();
    QString m_busyTitle;
};
