#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;
class QPushButton;

// A small stay-on-top window with one progress bar, shown by its owner around a long
// operation; the bar repaints when the owner lets pending events run. For work of unknown
// length done on another thread it shows a busy bar and a Cancel button instead; for work the
// owner can stop, a percentage with Cancel and a line of text above the bar.
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
    // The percentage bar with a Cancel button that emits cancelled().
    void setCancellable(const QString& title);
    // A line above the bar (already translated: it is made of changing figures); the window
    // grows by its height. An empty text hides it.
    void setText(const QString& text);
    QString text() const;

    QLabel* lblText = nullptr; // shown only with a text
    QProgressBar* pbProgress = nullptr;
    QPushButton* btnCancel = nullptr; // shown only while busy or cancellable

signals:
    void cancelled();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void retranslateUi();
    void fitSize();
    QString m_title;
};
