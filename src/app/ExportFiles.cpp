#include "app/ExportFiles.h"

#include "backup/BackupFileManager.h"
#include "util/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QString exportDestination(const QString& exportPath, const QString& treePath)
{
    return QDir::toNativeSeparators(exportPath + treePath);
}

bool isInsideFolder(const QString& path, const QString& folder)
{
    const QString p = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QString f = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    if (p == f)
        return true;
    return p.startsWith(f.endsWith(QLatin1Char('/')) ? f : f + QLatin1Char('/'));
}

std::optional<TExportFile> makeExportFile(const QString& backupPath, const QString& Key,
                                          const QString& exportPath, const QString& treePath)
{
    const QString source = GetRealFileName(backupPath, Key);
    if (!QFileInfo(source).isFile())
        return std::nullopt;
    TExportFile file;
    file.srcFile = source;
    file.dstFile = exportDestination(exportPath, treePath);
    if (!isInsideFolder(file.dstFile, exportPath) ||
        QDir::cleanPath(file.dstFile) == QDir::cleanPath(exportPath))
        throw Error(QStringLiteral("cannot export %1: its path leads out of the export folder")
                        .arg(treePath));
    return file;
}

void CopyExportFiles(const std::vector<TExportFile>& list)
{
    for (const TExportFile& file : list) {
        const QFileInfo target(file.dstFile);
        const QString folder = target.absolutePath();
        if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
            throw Error(QStringLiteral("cannot create the folder %1").arg(folder));

        const QString partial = file.dstFile + QStringLiteral(".ferrowick-part");
        QFile::remove(partial);
        QFile source(file.srcFile);
        if (!source.copy(partial)) {
            const QString reason = source.errorString();
            QFile::remove(partial);
            throw Error(
                QStringLiteral("cannot copy %1 to %2: %3").arg(file.srcFile, file.dstFile, reason));
        }
        QFile existing(file.dstFile);
        if (target.exists() && !existing.remove()) {
            const QString reason = existing.errorString();
            QFile::remove(partial);
            throw Error(QStringLiteral("cannot replace %1: %2").arg(file.dstFile, reason));
        }
        QFile copied(partial);
        if (!copied.rename(file.dstFile)) {
            const QString reason = copied.errorString();
            throw Error(QStringLiteral("cannot write %1: %2").arg(file.dstFile, reason));
        }
    }
}

void FreeExportList(std::vector<TExportFile>& list)
{
    list.clear();
}
