// ferrowick-screenshot BACKUP OUT.png [--advanced|--camera|--playback]: loads BACKUP in the main
// window and saves a picture of the Main page (the Wizard tab, or the Advanced tab with a few
// folders open), of the camera window opened from it, or of the playback window playing the
// camera roll's first video (double-clicked in the camera window).
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "media/FormPhoto.h"
#include "media/FormVideo.h"
#include "player/AVPlayer.h"
#include "player/TAVView.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <cstdio>

namespace {

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Waits, handling events, until done() holds or timeoutMs has passed.
template <typename Done> bool settleUntil(Done done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        settle(20);
    }
    return true;
}

// Camera, the Videos tab, a double click on its first video; the playback window is grabbed
// in a small size once it has played for a second.
bool savePlayback(TFormMain& form, const QString& out)
{
    bool saved = false;
    QTimer::singleShot(0, [&] {
        auto* camera = qobject_cast<TFormPhoto*>(QApplication::activeModalWidget());
        if (!camera)
            return;
        camera->tbcMain->setCurrentWidget(camera->tabVideos);
        if (camera->lvVideos->topLevelItemCount() > 0) {
            camera->lvVideos->setCurrentItem(camera->lvVideos->topLevelItem(0));
            QTimer::singleShot(0, [&] {
                auto* video = qobject_cast<TFormVideo*>(QApplication::activeModalWidget());
                if (!video)
                    return;
                // A small window keeps the picture small; the video shows at its own size.
                video->setWindowState(Qt::WindowNoState);
                video->resize(560, 400);
                const bool playing = settleUntil(
                    [video] {
                        // The label moves once a second: past its first tick it reads 1 s.
                        return !video->vwVideo->Bitmap().isNull() &&
                               video->lblDuration->text().startsWith(
                                   QStringLiteral("Position:00:00:01"));
                    },
                    15000);
                settle(200);
                saved = playing && video->grab().save(out);
                video->close();
            });
            camera->lvVideosDblClick();
        }
        camera->close();
    });
    form.actCamera->trigger();
    return saved;
}

} // namespace

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(
            stderr,
            "usage: ferrowick-screenshot BACKUP OUT.png [--advanced|--camera|--playback]\n");
        return 2;
    }
    const QString backup = args[1];
    const QString out = args[2];
    const bool advanced = args.contains(QStringLiteral("--advanced"));
    setMessageSink(
        [](const QString& text, bool) { std::fprintf(stderr, "%s\n", qPrintable(text)); });

    TdmGlobal dm;
    TFormMain form(dm);
    form.show();
    form.chooseBackupFile = [&backup] {
        return QDir(backup).filePath(QStringLiteral("Info.plist"));
    };
    form.btnBrowseClick();
    form.actNext->trigger();
    if (form.tbcMain->currentWidget() != form.tabMain) {
        std::fprintf(stderr, "ferrowick-screenshot: the backup did not load\n");
        return 1;
    }
    if (advanced) {
        form.tbcWizard->setCurrentWidget(form.tabAdv);
        for (const QString& path :
             {QStringLiteral("Library"), QStringLiteral("Library/Preferences")}) {
            const QModelIndexList found = form.treeModel->match(
                form.treeModel->index(0, 0), Qt::DisplayRole, path.section('/', -1), 1,
                Qt::MatchExactly | Qt::MatchRecursive);
            if (!found.isEmpty())
                form.tvTree->expand(found.first());
        }
    }
    if (args.contains(QStringLiteral("--camera"))) {
        bool saved = false;
        QTimer::singleShot(0, [&] {
            auto* camera = qobject_cast<TFormPhoto*>(QApplication::activeModalWidget());
            if (!camera)
                return;
            settle(500);
            saved = camera->grab().save(out);
            camera->close();
        });
        form.actCamera->trigger();
        if (!saved) {
            std::fprintf(stderr, "ferrowick-screenshot: no camera window to save\n");
            return 1;
        }
        return 0;
    }
    if (args.contains(QStringLiteral("--playback"))) {
        const bool saved = savePlayback(form, out);
        if (!saved)
            std::fprintf(stderr, "ferrowick-screenshot: no video played in the playback window\n");
        return saved ? 0 : 1;
    }
    settle(500);
    if (!form.grab().save(out)) {
        std::fprintf(stderr, "ferrowick-screenshot: cannot write %s\n", qPrintable(out));
        return 1;
    }
    return 0;
}
