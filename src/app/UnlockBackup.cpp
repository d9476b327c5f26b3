#include "app/UnlockBackup.h"

#include "app/FormProgress.h"
#include "backup/BackupCrypto.h"

#include <QEventLoop>
#include <QTimer>

#include <thread>

TUnlockResult deriveBackupKeys(const QByteArray& password, const TKeybag& keybag, QWidget* owner,
                               std::atomic_bool& cancel, std::unique_ptr<TBackupKeys>& keys)
{
    struct Job
    {
        std::atomic_bool done{false};
        std::optional<TBackupKeys> keys; // written by the worker before done
        bool derived = false;
    } job;

    std::thread worker([&job, &password, &keybag, &cancel] {
        if (const std::optional<TSecret> key = derivePasswordKey(password, keybag, &cancel)) {
            job.derived = true;
            job.keys = TBackupKeys::unlock(keybag, *key);
        }
        job.done.store(true, std::memory_order_release);
    });

    {
        TFormProgress progress(owner);
        progress.setBusy(QStringLiteral("Checking the password ..."));
        QEventLoop loop;
        QObject::connect(&progress, &TFormProgress::cancelled, &loop, [&cancel, &loop] {
            cancel = true;
            loop.quit();
        });
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&job, &cancel, &loop] {
            if (job.done.load(std::memory_order_acquire) || cancel)
                loop.quit();
        });
        poll.start(15);
        progress.show();
        if (!job.done.load(std::memory_order_acquire) && !cancel)
            loop.exec();
    }
    // A cancelled derivation notices the flag within a few thousand rounds: the join is short.
    worker.join();
    if (cancel || !job.derived)
        return TUnlockResult::urCancelled;
    if (!job.keys)
        return TUnlockResult::urWrongPassword;
    keys = std::make_unique<TBackupKeys>(std::move(*job.keys));
    return TUnlockResult::urUnlocked;
}
