// The floor: the least a Qt Widgets program can do of what the game does.
// One input dialogue, then a 632 x 434 window whose one label counts down
// once a second. The game is measured against it.
//
// With --caret the window also holds a focused answer box of the game's
// size and font, whose caret blinks as the game's does.

#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const bool caret = QCoreApplication::arguments().contains(QStringLiteral("--caret"));

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

    QLineEdit *box = nullptr;
    if (caret) {
        box = new QLineEdit(&window);
        box->setGeometry(464, 24, 161, 86);
        QFont font(QStringLiteral("Liberation Sans Narrow"));
        font.setPixelSize(64);
        font.setBold(true);
        box->setFont(font);
    }
    window.show();
    if (box) {
        // Without a window manager nobody activates the window, and an
        // inactive window's caret does not blink.
        window.activateWindow();
        box->setFocus();
    }
    return application.exec();
}
