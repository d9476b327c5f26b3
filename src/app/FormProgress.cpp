#include "app/FormProgress.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>

TFormProgress::TFormProgress(QWidget* owner)
    : QWidget(owner,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
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
    setFixedSize(640, 37);
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
    m_busyTitle = title;
    pbProgress->setRange(0, 0);
    btnCancel->show();
    retranslateUi();
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
    setWindowTitle(m_busyTitle.isEmpty() ? tr("Progress...")
                                         : tr(m_busyTitle.toUtf8().constData()));
    btnCancel->setText(tr("Cancel"));
}
