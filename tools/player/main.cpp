// A bare player window for trying the engine by hand: ferrowick-player FILE [SCREENSHOT.png]
// With a screenshot path it grabs the window after two seconds of playback and quits.
#include "player/AVPlayer.h"
#include "player/TAVView.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: ferrowick-player FILE [SCREENSHOT.png]\n");
        return 2;
    }
    QWidget window;
    window.setWindowTitle(QStringLiteral("Ferrowick player"));
    auto* layout = new QVBoxLayout(&window);
    auto* player = new TAVPlayer(&window);
    auto* view = new TAVView(&window);
    view->setMinimumSize(480, 270);
    view->setPlayer(player);
    layout->addWidget(view, 1);
    auto* bar = new QHBoxLayout;
    auto* play = new QPushButton(QStringLiteral("Pause"), &window);
    auto* seek = new QSlider(Qt::Horizontal, &window);
    auto* time = new QLabel(&window);
    bar->addWidget(play);
    bar->addWidget(seek, 1);
    bar->addWidget(time);
    layout->addLayout(bar);
    window.resize(800, 520);

    try {
        player->OpenMovie(QString::fromLocal8Bit(argv[1]), false, true);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    seek->setRange(0, int(player->Duration() * 1000));
    QObject::connect(play, &QPushButton::clicked, [&] {
        if (player->Paused())
            player->Play();
        else
            player->Pause();
        play->setText(player->Paused() ? QStringLiteral("Play") : QStringLiteral("Pause"));
    });
    QObject::connect(seek, &QSlider::sliderReleased,
                     [&] { player->setPosition(seek->value() / 1000.0); });
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (!seek->isSliderDown())
            seek->setValue(int(player->Position() * 1000));
        time->setText(FormatMediaTime(true, player->Position()) + QStringLiteral(" / ") +
                      FormatMediaTime(true, player->Duration()));
    });
    tick.start(250);
    window.show();
    if (argc > 2) {
        QTimer::singleShot(2000, [&] {
            window.grab().save(QString::fromLocal8Bit(argv[2]));
            app.quit();
        });
    }
    return app.exec();
}
