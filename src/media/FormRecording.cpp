#include "media/FormRecording.h"

#include "app/Application.h"
#include "media/FormVideo.h"
#include "media/MediaFiles.h"

#include <QListWidget>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

TFormRecording::TFormRecording(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FormRecording"));
    setWindowTitle(tr("Recordings"));
    resize(640, 480);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    tlbMain = new QToolBar(this);
    btnClose = new QToolButton(tlbMain);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->setText(tr("Close"));
    tlbMain->addWidget(btnClose);
    lstRecording = new QListWidget(this);
    lstRecording->setObjectName(QStringLiteral("lstRecording"));
    layout->addWidget(tlbMain);
    layout->addWidget(lstRecording, 1);
    connect(btnClose, &QToolButton::clicked, this, &QDialog::accept);
    connect(lstRecording, &QListWidget::itemDoubleClicked, this,
            guarded([this] { lstRecordingDblClick(); }));
}

void TFormRecording::initGUI()
{
    for (const TExportFile& file : *FRecordings)
        lstRecording->addItem(phoneFileName(file));
}

void TFormRecording::lstRecordingDblClick()
{
    const int row = lstRecording->currentRow();
    if (!FRecordings || row < 0 || size_t(row) >= FRecordings->size() ||
        !lstRecording->item(row)->isSelected())
        return;
    ShowVideoForm((*FRecordings)[size_t(row)], this);
}

void ShowRecordingForm(const std::vector<TExportFile>& list, QWidget* parent)
{
    TFormRecording form(parent);
    form.FRecordings = &list;
    form.initGUI();
    form.exec();
}
