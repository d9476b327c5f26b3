#include "media/FormVideo.h"

#include "app/Application.h"

// PLACEHOLDER until the playback window lands: it only says so. Replace this body.
void ShowVideoForm(const TExportFile& file, QWidget* parent)
{
    Q_UNUSED(file);
    Q_UNUSED(parent);
    ShowMessage(QStringLiteral("not yet available"));
}
