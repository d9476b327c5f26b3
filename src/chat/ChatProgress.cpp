#include "chat/ChatProgress.h"

#include <QProgressBar>
#include <QVBoxLayout>

#include <cmath>

ChatProgress::ChatProgress(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("Progress..."));
    setFixedSize(640, 37);
    pbProgress = new QProgressBar(this);
    pbProgress->setRange(0, 100);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(pbProgress);
}

double ChatProgress::Progress() const
{
    return pbProgress->value();
}

void ChatProgress::setProgress(double percent)
{
    pbProgress->setValue(int(std::lround(std::clamp(percent, 0.0, 100.0))));
}
