#include "app/FormProgress.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class TestFormProgress : public QObject
{
    Q_OBJECT
private slots:
    void progressRoundTrips();
    void cancellableWithText();
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

void TestFormProgress::cancellableWithText()
{
    QWidget owner;
    TFormProgress form(&owner);
    form.setCancellable(QStringLiteral("Exporting files ..."));
    form.show();
    QCOMPARE(form.windowTitle(), QStringLiteral("Exporting files ..."));
    QCOMPARE(form.pbProgress->maximum(), 100); // a percentage, not a busy bar
    QVERIFY(form.btnCancel->isVisible());
    QVERIFY(!form.lblText->isVisible());

    // The line of text comes above the bar; the bar keeps its height.
    form.setText(QStringLiteral("1 of 3 files, 10 bytes of 30 bytes"));
    QVERIFY(form.lblText->isVisible());
    QCOMPARE(form.text(), QStringLiteral("1 of 3 files, 10 bytes of 30 bytes"));
    QCOMPARE(form.width(), 640);
    QVERIFY(form.height() >= 37 + form.lblText->sizeHint().height());
    form.setText({});
    QCOMPARE(form.size(), QSize(640, 37));

    QSignalSpy cancelled(&form, &TFormProgress::cancelled);
    form.btnCancel->click();
    QCOMPARE(cancelled.size(), 1);
}

QTEST_MAIN(TestFormProgress)
#include "tst_formprogress.moc"
