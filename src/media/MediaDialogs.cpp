#include "media/MediaDialogs.h"

#include "app/ExportFiles.h"

#include <QDir>
#include <QFileDialog>

namespace {
FolderChooser& chooserSlot()
{
    static FolderChooser chooser;
    return chooser;
}
} // namespace

QString chooseMediaFolder(QWidget* parent, const QString& title)
{
    if (chooserSlot())
        return chooserSlot()(parent, title);
    return QFileDialog::getExistingDirectory(parent, title);
}

void setMediaFolderChooser(FolderChooser chooser)
{
    chooserSlot() = std::move(chooser);
}

QString saveMediaCopy(const QString& source, const QString& folder, const QString& name)
{
    TExportFile file;
    file.srcFile = source;
    file.dstFile = QDir(folder).filePath(name);
    CopyExportFiles({file});
    return file.dstFile;
}
