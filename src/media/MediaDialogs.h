#pragma once

#include <QString>

#include <functional>

class QToolBar;
class QToolButton;
class QVBoxLayout;
class QWidget;

// The folder chooser of the media windows' Save buttons. An empty result means the user
// cancelled. Tests put their own answer in place of the dialog.
using FolderChooser = std::function<QString(QWidget* parent, const QString& title)>;
QString chooseMediaFolder(QWidget* parent, const QString& title);
void setMediaFolderChooser(FolderChooser chooser); // empty: the dialog again

// Copies source to folder/name, replacing a file already there (only once the copy has
// succeeded). Throws on failure. Returns the target.
QString saveMediaCopy(const QString& source, const QString& folder, const QString& name);

// The media windows' frame: a column without margins whose first row is a new toolbar.
QVBoxLayout* addToolbarColumn(QWidget* window, QToolBar*& toolbar);
QToolButton* addToolButton(QToolBar* toolbar, const char* objectName, const QString& text);
