#pragma once

#include <QByteArray>

#include <atomic>
#include <memory>

class QWidget;
class TBackupKeys;
struct TKeybag;

enum class TUnlockResult
{
    urUnlocked,
    urWrongPassword,
    urCancelled,
};

// Derives the password key and unlocks the class keys of an encrypted backup. The derivation
// (ten million rounds since iOS 10.2: seconds of work) runs on a thread of its own while a
// progress window over owner shows a busy bar; the GUI thread keeps handling its events. The
// window's Cancel, or cancel set by the caller (closing the main window), returns at once.
// Called from the GUI thread.
TUnlockResult deriveBackupKeys(const QByteArray& password, const TKeybag& keybag, QWidget* owner,
                               std::atomic_bool& cancel, std::unique_ptr<TBackupKeys>& keys);
