#include "app/Application.h"

#include "app/Language.h"
#include "util/Error.h"

#include <QMessageBox>

namespace {

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
