#pragma once

// Driving modal windows from a test: the test's own code is blocked in the modal loop, so a
// timer acts on the window from inside it.

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

// Runs action on the first visible top-level T once one appears, inside whichever event loop
// runs then (the modal loop of T or of a window below it), and closes T afterwards, also when
// the action stopped early on a failed check. Gives up after timeoutMs.
template <typename T> void whenShown(std::function<void(T&)> action, int timeoutMs = 60000)
{
    auto* poll = new QTimer;
    auto deadline = std::make_shared<QDeadlineTimer>(timeoutMs);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, deadline, action = std::move(action)] {
        T* found = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* t = qobject_cast<T*>(w); t && t->isVisible())
                found = t;
        if (!found && !deadline->hasExpired())
            return;
        poll->stop();
        if (found) {
            QPointer<T> window(found);
            action(*found);
            if (window && window->isVisible())
                window->done(QDialog::Rejected);
        }
        poll->deleteLater();
    });
    poll->start(20);
}
