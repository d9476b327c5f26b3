// Times the table window on a message database of 100,000 messages: from creation until the
// window is on screen with every row loaded, and the CSV export. Runs offscreen by default.
#include "PhoneDatabases.h"
#include "app/DmGlobal.h"
#include "tables/FormSQL.h"
#include "tables/PersonalDataQueries.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTableView>
#include <QTemporaryDir>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int messages = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    const int runs = 5;

    QTemporaryDir dir;
    const QString db = QDir(dir.path()).filePath(QStringLiteral("sms.db"));
    {
        QFile file(db);
        if (!file.open(QIODevice::WriteOnly) || file.write(PhoneDatabases::sms(messages)) < 0) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(db));
            return 1;
        }
    }
    const QString csv = QDir(dir.path()).filePath(QStringLiteral("export.csv"));

    TdmGlobal dm;
    const QStringList statements = smsStatements();
    std::vector<double> showTimes;
    std::vector<double> saveTimes;
    int rows = 0;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        TFormSQL form(dm, db, statements);
        form.initGUI();
        form.show();
        while (!form.windowHandle() || !form.windowHandle()->isExposed())
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        form.lvSQL->viewport()->repaint(); // the first screen of rows drawn
        showTimes.push_back(double(timer.nsecsElapsed()) / 1e6);
        rows = form.lvSQL->model()->rowCount();

        timer.restart();
        form.saveCsv(csv);
        saveTimes.push_back(double(timer.nsecsElapsed()) / 1e6);
        form.close();
    }
    std::printf("table window, %d rows (%d messages + fixed ones), %d runs\n", rows, messages,
                runs);
    std::printf("  shown with every row loaded: median %.0f ms, best %.0f ms\n", median(showTimes),
                *std::min_element(showTimes.begin(), showTimes.end()));
    std::printf("  saved as CSV (%.1f MB):        median %.0f ms, best %.0f ms\n",
                double(QFileInfo(csv).size()) / 1e6, median(saveTimes),
                *std::min_element(saveTimes.begin(), saveTimes.end()));
    return 0;
}
