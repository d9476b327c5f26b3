#include "app/FormProgress.h"

#include <QProgressBar>
#include <QTest>

class TestFormProgress : public QObject
{
    Q_OBJECT
private slots:
    void progressRoundTrips();
};

void TestFormProgress::progressRoundTrips()
{
    QWidget owner;
    owner.resize(800, 600);
    TFormProgress form(&owner);
    QCOMPARE(form.windowTitle(), QStringLiteral("Progress..."));
    QCOMPARE(form.size(), QSize(640, 37));
    QVERIFY(form.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(form.windowFlags() & Qt::WindowCloseButtonHint));
    form.setProgress(50);
    QCOMPARE(form.Progress(), 50.0);
    QCOMPARE(form.pbProgress->value(), 50);
    QCOMPARE(form.pbProgress->minimum(), 0);
    QCOMPARE(form.pbProgress->maximum(), 100);
    form.setProgress(150);
    QCOMPARE(form.Progress(), 100.0);
}

QTEST_MAIN(TestFormProgress)
#include "tst_formprogress.moc"
