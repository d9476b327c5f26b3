#include "chat/ChatMedia.h"

#include "app/InstalledFiles.h"
#include "chat/FriendInfo.h"
#include "util/Error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

bool isSilkVoice(const QByteArray& head)
{
    return head.left(32).contains("SILK_V3");
}

QString silkDecoderCommandLine(const QString& silkPath, const QString& pcmPath)
{
    return QStringLiteral("%1 \"%2\" \"%3\"")
        .arg(QLatin1String(kSilkDecoderProgram), QDir::toNativeSeparators(silkPath),
             QDir::toNativeSeparators(pcmPath));
}

void CopyFileReplacing(const QString& source, const QString& destination)
{
    QFile target(destination);
    if (target.exists() && !target.remove())
        throw Error(QStringLiteral("cannot replace %1: %2").arg(destination, target.errorString()));
    QFile from(source);
    if (!from.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("cannot copy %1: %2").arg(source, from.errorString()));
    // NewOnly: the copy fails rather than write into a file that appeared meanwhile. A plain
    // read/write loop avoids QFile::copy's temporary file and rename, which cost more than the
    // copy itself for a conversation of small pictures.
    if (!target.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        throw Error(QStringLiteral("cannot copy %1 to %2: %3")
                        .arg(source, destination, target.errorString()));
    constexpr qint64 kBlock = 256 * 1024;
    QByteArray block(kBlock, Qt::Uninitialized);
    for (;;) {
        const qint64 n = from.read(block.data(), kBlock);
        if (n < 0)
            throw Error(QStringLiteral("cannot copy %1: %2").arg(source, from.errorString()));
        if (n == 0)
            break;
        if (target.write(block.constData(), n) != n) {
            const QString reason = target.errorString();
            target.close();
            target.remove();
            throw Error(
                QStringLiteral("cannot copy %1 to %2: %3").arg(source, destination, reason));
        }
    }
}

void RunAndWait(const QString& commandLine, const std::function<void()>& pumpEvents)
{
    QStringList words = QProcess::splitCommand(trimControls(commandLine));
    if (words.isEmpty())
        throw Error(QStringLiteral("empty command line"));
    const QString name = words.takeFirst();
    // Beside the program, in the installed helper folder, then on PATH.
    const QString program = findHelperProgram(name);
    if (program.isEmpty())
        throw Error(QStringLiteral("cannot run %1: the program was not found").arg(name));
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(program, words);
    if (!process.waitForStarted(-1))
        throw Error(QStringLiteral("cannot run %1: %2").arg(program, process.errorString()));
    while (!process.waitForFinished(10)) {
        if (process.state() == QProcess::NotRunning)
            break;
        if (pumpEvents)
            pumpEvents();
    }
}
