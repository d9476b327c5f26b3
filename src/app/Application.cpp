#include "app/Application.h"

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
    const QString translated = QCoreApplication::translate("Ferrowick", text.toUtf8().constData());
    if (messageSink()) {
        messageSink()(translated, isError);
        return;
    }
    QMessageBox box(isError ? QMessageBox::Critical : QMessageBox::Information,
                    QStringLiteral("Ferrowick"), translated, QMessageBox::Ok,
                    QApplication::activeWindow());
    box.exec();
}

} // namespace

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Ferrowick"));
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
