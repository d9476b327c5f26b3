#include "app/Application.h"

#include "app/Language.h"
#include "util/Error.h"
#include "util/WorkFolder.h"

#include <QMessageBox>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    // Only async-signal-safe work here: the event loop does the rest.
    const char byte = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &byte, 1);
}

MessageSink& messageSink()
{
    static MessageSink sink;
    return sink;
}

void showBox(const QString& text, bool isError)
{
    const QString translated = translateMessage(text);
    if (messageSink()) {
        messageSink()(translated, isError);
        return;
    }
    QMessageBox box(isError ? QMessageBox::Critical : QMessageBox::Information,
                    translateMessage(QStringLiteral("Ferrowick")), translated, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Ferrowick"));
    // Desktops match the windows to the installed desktop entry (and its icon) by this name.
    setDesktopFileName(QStringLiteral(FERROWICK_APP_ID));
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        ShowException(e);
    } catch (...) {
        ShowException(Error(QStringLiteral("unknown failure")));
    }
    return false;
}

void TApplication::quitOnTerminationSignals()
{
    if (g_signalPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [] {
        char byte = 0;
        [[maybe_unused]] const auto n = ::read(g_signalPipe[0], &byte, 1);
        TWorkFolder::removeAll();
        QCoreApplication::exit(0);
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void ShowMessage(const QString& text)
{
    showBox(text, false);
}

void ShowException(const std::exception& e)
{
    const auto* error = dynamic_cast<const Error*>(&e);
    showBox(error ? error->message() : QString::fromLocal8Bit(e.what()), true);
}

void setMessageSink(MessageSink sink)
{
    messageSink() = std::move(sink);
}
