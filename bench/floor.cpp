// The floor: the least a Qt Widgets program can do of what the game does.
// One input dialogue, then a 632 x 434 window whose one label counts down
// once a second. The game is measured against it.

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QTimer>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);

    // The answer does not matter; the dialogue does.
    QInputDialog::getText(nullptr, QStringLiteral("Valtrino"), QStringLiteral("Come ti chiami?"));

    QWidget window;
    window.setWindowTitle(QStringLiteral("Floor"));
    window.resize(632, 434);
    QLabel label(&window);
    label.setGeometry(16, 160, 105, 33);

    int secondsLeft = 900;
    const auto showClock = [&] {
        label.setText(QStringLiteral("00:%1:%2")
                          .arg(secondsLeft / 60, 2, 10, QLatin1Char('0'))
                          .arg(secondsLeft % 60, 2, 10, QLatin1Char('0')));
    };
    showClock();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (secondsLeft > 0)
            --secondsLeft;
        showClock();
    });
    timer.start(1000);
    window.show();
    return application.exec();
}
