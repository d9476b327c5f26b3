#pragma once

#include <QString>
#include <QStringList>

// Where Ferrowick's own files lie. The program runs from its build folder, where they are
// beside it or in a layout that mirrors the installed one, or installed (bin/ferrowick with
// share/ferrowick, share/doc/ferrowick and libexec/ferrowick, found relative to the program, so
// an installation under any prefix finds its own files and never a build machine's).
//
// Each function has a form that takes the program's folder (appDir), for tests; the plain
// form uses the running program's folder. Called from the GUI thread.

// The installed data (Lang/), documentation and helper folders for a program in appDir.
QString installedDataFolder(const QString& appDir);
QString installedDocumentationFolder(const QString& appDir);
QString installedHelperFolder(const QString& appDir);

// Folders that may hold "Lang/<name>", most important first: the working directory, the
// program's folder, the installed data folder.
QStringList languageFolders(const QString& appDir, const QString& workingDir);
// The first existing "Lang/<name>" of those folders; empty when there is none.
QString findLanguageFile(const QString& name);
QString findLanguageFile(const QString& name, const QString& appDir, const QString& workingDir);

// The program's documentation (the README as a web page); empty when it is not installed.
QString documentationFile(const QString& appDir);
QString findDocumentation();
// Where the documentation is expected, for a message that says it is missing.
QString expectedDocumentationFile();

// A helper program of Ferrowick's (the voice decoder): beside the program, then in the
// installed helper folder, then on PATH. Empty when none is found or name is empty.
QString findHelperProgram(const QString& name, const QString& appDir);
QString findHelperProgram(const QString& name);
