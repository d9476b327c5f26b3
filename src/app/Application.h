#pragma once

#include <QApplication>

#include <exception>
#include <functional>

// The application object. What escapes an event handler is shown in a message box and the
// program carries on, the window as it was.
class TApplication final : public QApplication
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TApplication)

public:
    TApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // On SIGINT or SIGTERM: removes the private working folder at once, then leaves every
    // event loop, so the program ends the way Close ends it.
    void quitOnTerminationSignals();
};

// Messages to the user: plain message boxes with one text, passed through the translation
// table (after any formatting). Called from the GUI thread.
void ShowMessage(const QString& text);
// The default handler's box for a failure.
void ShowException(const std::exception& e);

// Where messages go instead of message boxes (tests); an empty sink restores the boxes.
using MessageSink = std::function<void(const QString& text, bool isError)>;
void setMessageSink(MessageSink sink);

// Wraps a handler so that a failure escaping it reaches ShowException rather than Qt's
// signal machinery, which exceptions must not cross.
template <typename Handler> auto guarded(Handler handler)
{
    return [handler = std::move(handler)](auto&&...) {
        try {
            handler();
        } catch (const std::exception& e) {
            ShowException(e);
        }
    };
}
