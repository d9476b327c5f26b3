// Prints how long the camera window takes on a large camera roll (collection from the tree
// plus filling the window) and how long a 12-megapixel JPEG takes to open in the image window.
#include "MediaData.h"
#include "SampleBackup.h"
#include "app/Application.h"
#include "app/DmGlobal.h"
#include "app/FormMain.h"
#include "media/FormImage.h"
#include "media/FormPhoto.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdio>

namespace {


} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.filePath("data").toUtf8());
    TApplication app(argc, argv);
    TdmGlobal dm;
    constexpr int kPhotos = 20000;

    // 20,000 photos over 20 folders, stored copies present (the collection checks each one).
    SampleBackup b;
    for (int i = 0; i < kPhotos; ++i)
        b.addFile(QStringLiteral("CameraRollDomain"),
                  QStringLiteral("Media/DCIM/%1APPLE/IMG_%2.%3")
                      .arg(100 + i / 1000)
                      .arg(i, 5, 10, QLatin1Char('0'))
                      .arg(i % 10 == 0 ? QStringLiteral("MOV") : QStringLiteral("JPG")),
                  QByteArray("x"));
    const QString folder = data.filePath("roll");
    b.write(folder);

    TFormMain form(dm);
    form.show();
    form.chooseBackupFile = [folder] { return QDir(folder).filePath("Info.plist"); };
    form.btnBrowse->click();
    form.actNext->trigger();
    if (form.tbcMain->currentWidget() != form.tabMain) {
        std::fprintf(stderr, "the backup did not load\n");
        return 1;
    }
    const QModelIndexList top = form.childNodes();

    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        std::vector<TExportFile> list;
        const QModelIndex dcim =
            TFormMain::FindNode(form.childNodes(TFormMain::FindNode(top, "Media")), "DCIM");
        form.CollectMedia(form.childNodes(dcim), list);
        TFormPhoto photo;
        photo.FPhotos = &list;
        photo.InitGUI();
        photo.show();
        QCoreApplication::processEvents();
        best = std::min(best, double(t.nsecsElapsed()) / 1e9);
        if (list.size() != size_t(kPhotos) || photo.lstPhoto->count() != 20) {
            std::fprintf(stderr, "unexpected result: %zu entries\n", list.size());
            return 1;
        }
    }
    std::printf("camera roll of %d files collected and window filled: %.3f s (goal < 1 s)\n",
                kPhotos, best);

    // A 12-megapixel JPEG of the size a phone takes.
    const QString jpeg = data.filePath("IMG_BIG.JPG");
    {
        QFile f(jpeg);
        if (!f.open(QIODevice::WriteOnly) ||
            f.write(media::picture(4032, 3024, "JPEG", QStringLiteral("12 MP"))) <= 0)
            return 1;
    }
    const TExportFile file{jpeg, QStringLiteral("/x/IMG_BIG.JPG"), QStringLiteral("100APPLE")};
    best = 1e9;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        TFormImage image;
        image.loadFile(file);
        image.resize(1280, 960);
        image.show();
        image.imgPhoto->grab(); // the first paint, scaled
        best = std::min(best, double(t.nsecsElapsed()) / 1e9);
    }
    std::printf("12-megapixel JPEG opened in the image window: %.3f s (goal < 0.5 s)\n", best);
    return 0;
}
