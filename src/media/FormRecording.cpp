#include "media/FormRecording.h"

#include "app/Application.h"
#include "media/FormVideo.h"
#include "media/MediaDialogs.h"
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
    QVBoxLayout* layout = addToolbarColumn(this, tlbMain);
    btnClose = addToolButton(tlbMain, "btnClose", tr("Close"));
    lstRecording = new QListWidget(this);
    lstRecording->setObjectName(QStringLiteral("lstRecording"));
    layout->addWidget(lstRecording, 1);
    connect(btnClose, &QToolButton::clicked, this, &QDialog::accept);
    connect(lstRecording, &QListWidget::itemDoubleClicked, this,
            guarded([this] { lstRecordingDblClick(); }));
}

void TFormRecording::initGUI()
{
    const bool captioned = FCaptions.size() == qsizetype(FRecordings->size());
    for (size_t i = 0; i < FRecordings->size(); ++i)
        lstRecording->addItem(captioned ? FCaptions[qsizetype(i)]
                                        : phoneFileName((*FRecordings)[i]));
}

void TFormRecording::lstRecordingDblClick()
{
    const int row = lstRecording->currentRow();
    if (!FRecordings || row < 0 || size_t(row) >= FRecordings->size() ||
        !lstRecording->item(row)->isSelected())
        return;
    TExportFile file = (*FRecordings)[size_t(row)];
    if (resolve)
        file.srcFile = resolve(file.srcFile);
    ShowVideoForm(file, this);
}

void ShowRecordingForm(const std::vector<TExportFile>& list, QWidget* parent, TFileResolver resolve,
                       const QStringList& captions)
{
    TFormRecording form(parent);
    form.FRecordings = &list;
    form.FCaptions = captions;
    form.resolve = std::move(resolve);
    form.initGUI();
    form.exec();
}
