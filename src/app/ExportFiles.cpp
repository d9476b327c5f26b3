#include "app/ExportFiles.h"

#include "backup/BackupFileManager.h"
#include "backup/StoredCopies.h"
#include "util/Error.h"
#include "util/FileCopy.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

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

namespace {

// What the export of one file came to.
enum class TFileOutcome { foExported, foSkipped, foCancelled };

TFileOutcome exportOne(const TExportFile& file, TStoredCopies* copies, QString& lastFolder,
                       const std::function<bool(qint64)>& chunkDone, const bool& stopped)
{
    const QFileInfo target(file.dstFile);
    const QString folder = target.absolutePath();
    if (folder != lastFolder) {
        if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
            throw Error(QStringLiteral("cannot create the folder %1").arg(folder));
        lastFolder = folder;
    }

    const QString partial = file.dstFile + QStringLiteral(".ferrowick-part");
    {
        QFile out(partial);
        // A part left by an earlier, interrupted export is replaced.
        bool opened = out.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        if (!opened && QFile::remove(partial))
            opened = out.open(QIODevice::WriteOnly | QIODevice::NewOnly);
        if (!opened)
            throw Error(QStringLiteral("cannot copy %1 to %2: %3")
                            .arg(file.srcFile, file.dstFile, out.errorString()));
        try {
            if (copies) {
                copies->writeContent(file.srcFile, out, chunkDone);
            } else {
                QFile in(file.srcFile);
                if (!in.open(QIODevice::ReadOnly))
                    throw Error(QStringLiteral("cannot copy %1 to %2: %3")
                                    .arg(file.srcFile, file.dstFile, in.errorString()));
                copyContent(in, out, file.srcFile, chunkDone);
            }
            if (!out.flush())
                throw Error(
                    QStringLiteral("cannot write %1: %2").arg(file.dstFile, out.errorString()));
        } catch (const TMissingKey&) {
            out.close();
            QFile::remove(partial);
            return TFileOutcome::foSkipped;
        } catch (...) {
            out.close();
            QFile::remove(partial);
            if (stopped)
                return TFileOutcome::foCancelled;
            throw;
        }
        // A user restoring photos expects the phone's dates, not the export's.
        if (copies)
            if (const auto seconds = copies->lastModifiedOfFile(file.srcFile))
                out.setFileTime(QDateTime::fromSecsSinceEpoch(*seconds, Qt::UTC),
                                QFileDevice::FileModificationTime);
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
    return TFileOutcome::foExported;
}

} // namespace

int CopyExportFiles(const std::vector<TExportFile>& list, TStoredCopies* copies)
{
    int skipped = 0;
    QString lastFolder; // files of a folder come together: it is looked at once
    const bool stopped = false;
    for (const TExportFile& file : list)
        if (exportOne(file, copies, lastFolder, {}, stopped) == TFileOutcome::foSkipped)
            ++skipped;
    return skipped;
}

TExportOutcome CopyExportFilesWithProgress(const std::vector<TExportFile>& list,
                                           TStoredCopies* copies,
                                           const TExportProgressFn& progress)
{
    TExportOutcome outcome;
    TExportProgress state;
    state.files = int(list.size());
    // The sizes first, so the bar can show bytes from the start; a missing source counts as
    // empty here and fails when its turn comes.
    std::vector<qint64> sizes;
    sizes.reserve(list.size());
    for (const TExportFile& file : list) {
        sizes.push_back(std::max<qint64>(0, QFileInfo(file.srcFile).size()));
        state.bytes += sizes.back();
    }
    if (progress && !progress(state)) {
        outcome.cancelled = true;
        return outcome;
    }

    bool stopped = false;
    qint64 before = 0; // bytes of the files done
    qint64 size = 0;   // of the file in progress
    const std::function<bool(qint64)> chunkDone = [&](qint64 soFar) {
        state.bytesDone = before + std::clamp<qint64>(soFar, 0, size);
        stopped = progress && !progress(state);
        return !stopped;
    };
    QString lastFolder;
    for (size_t i = 0; i < list.size(); ++i) {
        size = sizes[i];
        switch (exportOne(list[i], copies, lastFolder, chunkDone, stopped)) {
        case TFileOutcome::foExported:
            ++outcome.exported;
            break;
        case TFileOutcome::foSkipped:
            ++outcome.skipped;
            break;
        case TFileOutcome::foCancelled:
            outcome.cancelled = true;
            return outcome;
        }
        before += size;
        state.bytesDone = before;
        state.filesDone = int(i + 1);
        if (progress && !progress(state)) {
            outcome.cancelled = i + 1 < list.size();
            return outcome;
        }
    }
    return outcome;
}

void FreeExportList(std::vector<TExportFile>& list)
{
    list.clear();
}
