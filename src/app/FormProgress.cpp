#include "app/FormProgress.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
constexpr int kWidth = 640;
constexpr int kBarHeight = 37;
} // namespace

TFormProgress::TFormProgress(QWidget* owner)
    : QWidget(owner,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    lblText = new QLabel(this);
    lblText->setObjectName(QStringLiteral("lblText"));
    lblText->setContentsMargins(6, 4, 6, 4);
    lblText->setTextFormat(Qt::PlainText);
    lblText->hide();
    column->addWidget(lblText);
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    column->addLayout(layout, 1);
    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setRange(0, 100);
    pbProgress->setValue(0);
    layout->addWidget(pbProgress, 1);
    btnCancel = new QPushButton(this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->hide();
    layout->addWidget(btnCancel);
    connect(btnCancel, &QPushButton::clicked, this, &TFormProgress::cancelled);
    fitSize();
    retranslateUi();
}

double TFormProgress::Progress() const
{
    return pbProgress->value();
}

void TFormProgress::setProgress(double percent)
{
    pbProgress->setValue(qRound(qBound(0.0, percent, 100.0)));
}

void TFormProgress::setBusy(const QString& title)
{
    m_title = title;
    pbProgress->setRange(0, 0);
    btnCancel->show();
    retranslateUi();
}

void TFormProgress::setCancellable(const QString& title)
{
    m_title = title;
    pbProgress->setRange(0, 100);
    btnCancel->show();
    retranslateUi();
}

void TFormProgress::setText(const QString& text)
{
    const bool wasShown = !lblText->isHidden();
    lblText->setText(text);
    lblText->setHidden(text.isEmpty());
    if (wasShown != !text.isEmpty())
        fitSize();
}

QString TFormProgress::text() const
{
    return lblText->isHidden() ? QString() : lblText->text();
}

void TFormProgress::fitSize()
{
    setFixedSize(kWidth, kBarHeight + (lblText->isHidden() ? 0 : lblText->sizeHint().height()));
}

void TFormProgress::showEvent(QShowEvent* event)
{
    // Centred on the window that owns it.
    if (const QWidget* owner = parentWidget())
        move(owner->geometry().center() - rect().center());
    QWidget::showEvent(event);
}

void TFormProgress::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::LanguageChange)
        retranslateUi();
    QWidget::changeEvent(event);
}

void TFormProgress::retranslateUi()
{
    setWindowTitle(m_title.isEmpty() ? tr("Progress...") : tr(m_title.toUtf8().constData()));
    btnCancel->setText(tr("Cancel"));
}
