#include "util/FileCopy.h"

#include "util/Error.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <unistd.h>

namespace {

constexpr qint64 kBlock = 4 * 1024 * 1024;

[[noreturn]] void stopped()
{
    throw Error(QStringLiteral("cancelled"));
}

// True when everything was copied; false when the kernel cannot copy between these files and
// nothing was written yet, so the caller falls back to the loop.
bool kernelCopy(QFile& in, QFile& out, const QString& what, const TCopyProgress& progress)
{
    const int from = in.handle();
    const int to = out.handle();
    if (from < 0 || to < 0 || !out.flush())
        return false;
    const loff_t start = in.pos();
    loff_t inOffset = start;
    bool copiedAny = false;
    // Steps of a chunk: a big file reports its progress and can be stopped between them; for
    // small files the calls are the same as with one large step.
    for (;;) {
        const ssize_t n = ::copy_file_range(from, &inOffset, to, nullptr, size_t(kCopyChunk), 0);
        if (n > 0) {
            copiedAny = true;
            if (progress && !progress(inOffset - start))
                stopped();
            continue;
        }
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        if (!copiedAny && (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                           errno == EOPNOTSUPP || errno == EBADF))
            return false;
        throw Error(QStringLiteral("cannot copy %1: %2").arg(what, qt_error_string(errno)));
    }
    // Keep both QFile objects' idea of their positions right for whoever writes on.
    in.seek(inOffset);
    out.seek(::lseek(to, 0, SEEK_CUR));
    return true;
}

} // namespace

void copyContent(QIODevice& in, QIODevice& out, const QString& what, const TCopyProgress& progress)
{
    auto* inFile = qobject_cast<QFile*>(&in);
    auto* outFile = qobject_cast<QFile*>(&out);
    if (inFile && outFile && kernelCopy(*inFile, *outFile, what, progress))
        return;
    QByteArray buffer(kBlock, Qt::Uninitialized);
    qint64 copied = 0;
    qint64 sinceReport = 0;
    for (;;) {
        const qint64 n = in.read(buffer.data(), buffer.size());
        if (n < 0)
            throw Error(QStringLiteral("cannot read %1: %2").arg(what, in.errorString()));
        if (n == 0)
            return;
        if (out.write(buffer.constData(), n) != n)
            throw Error(
                QStringLiteral("cannot write a copy of %1: %2").arg(what, out.errorString()));
        copied += n;
        sinceReport += n;
        if (progress && sinceReport >= kCopyChunk) {
            sinceReport = 0;
            if (!progress(copied))
                stopped();
        }
    }
}
