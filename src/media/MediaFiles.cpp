#include "media/MediaFiles.h"

#include "app/ExportFiles.h"
#include "backup/BackupFileManager.h"

#include <QFileInfo>

bool isCameraMediaName(const QString& name)
{
    const QString upper = name.toUpper();
    for (const char* ext : {".JPG", ".PNG", ".HEIC", ".HEIF", ".MP4", ".MOV"})
        if (upper.contains(QLatin1String(ext)))
            return true;
    return false;
}

bool isRecordingName(const QString& name)
{
    return name.contains(QLatin1String(".m4a"), Qt::CaseSensitive);
}

bool isPhotoEntry(const TExportFile& file)
{
    const QString upper = file.dstFile.toUpper();
    return upper.contains(QLatin1String(".JPG")) || upper.contains(QLatin1String(".PNG")) ||
           upper.contains(QLatin1String(".HEIC")) || upper.contains(QLatin1String(".HEIF"));
}

std::optional<TExportFile> makeMediaFile(const QString& backupPath, const QString& Key,
                                         const QString& exportPath, const QString& treePath,
                                         const QString& parentFolder)
{
    TExportFile file;
    file.srcFile = GetRealFileName(backupPath, Key);
    if (!QFileInfo(file.srcFile).isFile())
        return std::nullopt;
    file.dstFile = exportDestination(exportPath, treePath);
    file.parentFolder = parentFolder;
    return file;
}

QString folderKey(const QString& folder)
{
    // Only A to Z fold; other letters keep their case.
    QString key = folder;
    for (QChar& c : key)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + ('a' - 'A'));
    return key;
}

QString phoneFileName(const TExportFile& file)
{
    const qsizetype slash = std::max(file.dstFile.lastIndexOf(QLatin1Char('/')),
                                     file.dstFile.lastIndexOf(QLatin1Char('\\')));
    return file.dstFile.mid(slash + 1);
}
