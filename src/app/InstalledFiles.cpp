#include "app/InstalledFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

// Paths from the installed program's folder to the installed data, documentation and helper
// folders, set by the build from its install folders.
#ifndef FERROWICK_BIN_TO_DATA
#define FERROWICK_BIN_TO_DATA "../share/ferrowick"
#endif
#ifndef FERROWICK_BIN_TO_DOC
#define FERROWICK_BIN_TO_DOC "../share/doc/ferrowick"
#endif
#ifndef FERROWICK_BIN_TO_HELPERS
#define FERROWICK_BIN_TO_HELPERS "../libexec/ferrowick"
#endif

namespace {

Q_LOGGING_CATEGORY(lcFiles, "ferrowick.files", QtWarningMsg)

const char kDocumentation[] = "README.html";

QString appDirectory()
{
    return QCoreApplication::applicationDirPath();
}

QString under(const QString& folder, const char* relative)
{
    return QDir::cleanPath(QDir(folder).filePath(QLatin1String(relative)));
}

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

QString installedDataFolder(const QString& appDir)
{
    return under(appDir, FERROWICK_BIN_TO_DATA);
}

QString installedDocumentationFolder(const QString& appDir)
{
    return under(appDir, FERROWICK_BIN_TO_DOC);
}

QString installedHelperFolder(const QString& appDir)
{
    return under(appDir, FERROWICK_BIN_TO_HELPERS);
}

QStringList languageFolders(const QString& appDir, const QString& workingDir)
{
    QStringList folders = {workingDir, appDir, installedDataFolder(appDir)};
    for (QString& folder : folders)
        folder = QDir::cleanPath(folder);
    folders.removeDuplicates();
    return folders;
}

QString findLanguageFile(const QString& name, const QString& appDir, const QString& workingDir)
{
    for (const QString& folder : languageFolders(appDir, workingDir)) {
        const QString file = QDir(folder).filePath(QStringLiteral("Lang/") + name);
        if (QFileInfo(file).isFile()) {
            qCDebug(lcFiles, "language file %s", qUtf8Printable(file));
            return file;
        }
    }
    qCDebug(lcFiles, "no Lang/%s under %s", qUtf8Printable(name),
            qUtf8Printable(languageFolders(appDir, workingDir).join(QStringLiteral(", "))));
    return {};
}

QString findLanguageFile(const QString& name)
{
    return findLanguageFile(name, appDirectory(), QDir::currentPath());
}

QString documentationFile(const QString& appDir)
{
    const QString file =
        QDir(installedDocumentationFolder(appDir)).filePath(QLatin1String(kDocumentation));
    return QFileInfo(file).isFile() ? file : QString();
}

QString findDocumentation()
{
    return documentationFile(appDirectory());
}

QString expectedDocumentationFile()
{
    return QDir(installedDocumentationFolder(appDirectory()))
        .filePath(QLatin1String(kDocumentation));
}

QString findHelperProgram(const QString& name, const QString& appDir)
{
    if (name.isEmpty())
        return {};
    if (name.contains(QLatin1Char('/')))
        return name;
    for (const QString& folder : {appDir, installedHelperFolder(appDir)}) {
        const QString program = QDir(folder).filePath(name);
        if (isExecutableFile(program)) {
            qCDebug(lcFiles, "helper program %s", qUtf8Printable(program));
            return program;
        }
    }
    return QStandardPaths::findExecutable(name);
}

QString findHelperProgram(const QString& name)
{
    return findHelperProgram(name, appDirectory());
}
