#include "media/MediaDialogs.h"

#include "app/ExportFiles.h"

#include <QDir>
#include <QFileDialog>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

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

QVBoxLayout* addToolbarColumn(QWidget* window, QToolBar*& toolbar)
{
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    toolbar = new QToolBar(window);
    layout->addWidget(toolbar);
    return layout;
}

QToolButton* addToolButton(QToolBar* toolbar, const char* objectName, const QString& text)
{
    auto* button = new QToolButton(toolbar);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setText(text);
    toolbar->addWidget(button);
    return button;
}
