#include "player/KeepAwake.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {

const QString kService = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kPath = QStringLiteral("/org/freedesktop/ScreenSaver");
const QString kInterface = QStringLiteral("org.freedesktop.ScreenSaver");

} // namespace

TKeepAwake::TKeepAwake(QObject* parent) : QObject(parent) {}

TKeepAwake::~TKeepAwake()
{
    release();
}

void TKeepAwake::setAwake(bool awake)
{
    m_wanted = awake;
    if (!awake) {
        release();
        return;
    }
    if (m_cookie != 0 || m_pending)
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("Inhibit"));
    const QString app = QCoreApplication::applicationName().isEmpty()
                            ? QStringLiteral("Ferrowick")
                            : QCoreApplication::applicationName();
    call << app << QStringLiteral("Playing media");
    m_pending = true;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* w) {
                w->deleteLater();
                m_pending = false;
                const QDBusPendingReply<uint> reply = *w;
                if (reply.isError())
                    return; // no screen saver service: nothing to keep off
                m_cookie = reply.value();
                if (!m_wanted) // stopped while the request was under way
                    release();
            });
}

void TKeepAwake::release()
{
    if (m_cookie == 0)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("UnInhibit"));
    call << m_cookie;
    m_cookie = 0;
    QDBusConnection::sessionBus().send(call);
}
