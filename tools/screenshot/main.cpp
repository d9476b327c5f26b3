// ferrowick-screenshot BACKUP OUT.png [--advanced|--camera]: loads BACKUP in the main window and
// saves a picture of the Main page (the Wizard tab, or the Advanced tab with a few folders
// open), or of the camera window opened from it.
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "media/FormPhoto.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

namespace {

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: ferrowick-screenshot BACKUP OUT.png [--advanced|--camera]\n");
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
            const auto found = form.tvTree->findItems(path.section('/', -1),
                                                      Qt::MatchExactly | Qt::MatchRecursive);
            if (!found.isEmpty())
                found.first()->setExpanded(true);
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
    settle(500);
    if (!form.grab().save(out)) {
        std::fprintf(stderr, "ferrowick-screenshot: cannot write %s\n", qPrintable(out));
        return 1;
    }
    return 0;
}
