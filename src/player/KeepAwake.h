#pragma once

#include <QObject>

// Keeps the screen saver and display blanking off while media plays, through the freedesktop
// ScreenSaver service of the session bus. Without a session bus or that service it does
// nothing. Every call is asynchronous, so a slow or missing service never stalls the caller.
class TKeepAwake final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TKeepAwake)
public:
    explicit TKeepAwake(QObject* parent = nullptr);
    // Releases a held inhibition.
    ~TKeepAwake() override;

    void setAwake(bool awake);
    // An inhibition is held (the service answered with its cookie).
    bool inhibited() const { return m_cookie != 0; }

private:
    void release();

    bool m_wanted = false;
    bool m_pending = false;
    uint m_cookie = 0;
};
