#include "util/WorkFolder.h"

#include "util/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QTemporaryDir>

namespace {

QMutex& rootLock()
{
    static QMutex lock;
    return lock;
}

std::unique_ptr<QTemporaryDir>& rootDir()
{
    static std::unique_ptr<QTemporaryDir> dir;
    return dir;
}

std::unique_ptr<QTemporaryDir> makeTemporaryDir(const QString& pattern)
{
    // QTemporaryDir makes the folder with mkdtemp: mode 0700, a name nobody could predict.
    auto dir = std::make_unique<QTemporaryDir>(pattern);
    if (!dir->isValid())
        throw Error(QStringLiteral("cannot create a private working folder in %1: %2")
                        .arg(QFileInfo(pattern).absolutePath(), dir->errorString()));
    return dir;
}

QString cleanAbsolute(const QString& path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

QString TWorkFolder::root()
{
    const QMutexLocker locker(&rootLock());
    auto& dir = rootDir();
    if (!dir)
        dir = makeTemporaryDir(QDir(QDir::tempPath()).filePath(QStringLiteral("ferrowick-XXXXXX")));
    return dir->path();
}

void TWorkFolder::removeAll()
{
    const QMutexLocker locker(&rootLock());
    rootDir().reset(); // autoRemove takes everything below it
}

bool TWorkFolder::contains(const QString& path)
{
    QString base;
    {
        const QMutexLocker locker(&rootLock());
        if (!rootDir())
            return false;
        base = cleanAbsolute(rootDir()->path());
    }
    const QString p = cleanAbsolute(path);
    return p.startsWith(base + QLatin1Char('/'));
}

TWorkFolder::TWorkFolder(const QString& prefix)
    : m_dir(makeTemporaryDir(QDir(root()).filePath(prefix + QStringLiteral("-XXXXXX")))),
      m_path(m_dir->path())
{
}

TWorkFolder::~TWorkFolder() = default;

QString TWorkFolder::filePath(const QString& name) const
{
    return QDir(m_path).filePath(name);
}

void createPrivateFile(QFile& file, const QString& path)
{
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        throw Error(QStringLiteral("cannot create %1: %2").arg(path, file.errorString()));
}
