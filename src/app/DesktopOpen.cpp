#include "app/DesktopOpen.h"

#include "app/Application.h"
#include "app/InstalledFiles.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

QString shownAddress(const QUrl& url)
{
    return url.isLocalFile() ? QDir::toNativeSeparators(url.toLocalFile()) : url.toDisplayString();
}

void sayNoProgram(const QUrl& url)
{
    // The message box translates the text it is shown by the entry it was made from.
    ShowMessage(QStringLiteral("No program is set up to open %1.").arg(shownAddress(url)));
}

} // namespace

void openExternally(const QUrl& url)
{
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        if (!QDesktopServices::openUrl(url))
            sayNoProgram(url);
        return;
    }
    // Owned by the application until it ends; a browser that xdg-open runs in the foreground
    // keeps it until the browser closes.
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(opener);
    process->setArguments({url.toString(QUrl::FullyEncoded)});
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, process,
                     [process, url](int exitCode, QProcess::ExitStatus status) {
                         process->deleteLater();
                         if (status != QProcess::NormalExit || exitCode != 0)
                             sayNoProgram(url);
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, url](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         process->deleteLater();
                         sayNoProgram(url);
                     });
    process->start();
}

void openDocumentation(const QString& file)
{
    if (file.isEmpty()) {
        ShowMessage(QStringLiteral("The documentation is not installed: %1 is missing.")
                        .arg(QDir::toNativeSeparators(expectedDocumentationFile())));
        return;
    }
    openExternally(QUrl::fromLocalFile(file));
}

void openDocumentation()
{
    openDocumentation(findDocumentation());
}
