#include "app/Application.h"
#include "util/WorkFolder.h"

#include <QDialog>
#include <QFileInfo>
#include <QTest>
#include <QTimer>

#include <csignal>

// SIGTERM and SIGINT end the program as Close does: the private working folder goes at once,
// and every event loop is left, a modal window's too.
class TestTermination : public QObject
{
    Q_OBJECT
private slots:
    void signalRemovesTheWorkingFolder_data();
    void signalRemovesTheWorkingFolder();
};

void TestTermination::signalRemovesTheWorkingFolder_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
}

void TestTermination::signalRemovesTheWorkingFolder()
{
    QFETCH(int, signal);
    auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
    QVERIFY(app);
    app->quitOnTerminationSignals();
    TWorkFolder chat(QStringLiteral("chat"));
    const QString root = TWorkFolder::root();
    QVERIFY(QFileInfo(chat.path()).isDir());
    bool modalLeft = false;
    QDialog modal;
    QTimer::singleShot(0, [&] {
        QTimer::singleShot(100, [signal] { std::raise(signal); });
        modal.exec();
        modalLeft = true;
    });
    QEventLoop outer; // stands for the main window's loop
    QTimer::singleShot(5000, &outer, [&outer] { outer.exit(42); }); // not reached
    QCOMPARE(outer.exec(), 0);
    QVERIFY(modalLeft);
    QVERIFY(!QFileInfo::exists(root));
    QVERIFY(!QFileInfo::exists(chat.path()));
}

int main(int argc, char* argv[])
{
    TApplication app(argc, argv);
    TestTermination test;
    // One signal per process: after it every event loop ends at once.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.size() == 1)
        args << QStringLiteral("signalRemovesTheWorkingFolder:SIGTERM");
    return QTest::qExec(&test, args);
}

#include "tst_termination.moc"
