#include "GameFixture.h"

#include <QAccessible>
#include <QInputDialog>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

using runtime::Int16;

namespace {

// Types like a keyboard, letters outside ASCII included.
void type(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(widget, &release);
    }
}

// Counts a widget's paints: a blinking caret repaints its box, a still one
// does not.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;

    int paintsWithin(int ms)
    {
        paints = 0;
        QTest::qWait(ms);
        return paints;
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// A quick blink and a short rest keep the waits short.
struct QuickCaret
{
    const int before = QApplication::cursorFlashTime();
    const int flashTime = 200;
    const std::chrono::milliseconds rest{150};
    QuickCaret() { QApplication::setCursorFlashTime(flashTime); }
    ~QuickCaret() { QApplication::setCursorFlashTime(before); }
    // Long enough for a blinking caret to show or hide once.
    int blink() const { return flashTime / 2 + 150; }
};

} // namespace

class PlayingTest : public QObject
{
    Q_OBJECT
private slots:
    void questionStaysWithinTheLimit_data();
    void questionStaysWithinTheLimit();
    void limitAboveTheCapBecomes3800Silently_data();
    void limitAboveTheCapBecomes3800Silently();
    void questionByActivationAndByButtonAreAlike();
    void backgroundBandsRunFromBlue0ToBlue255();
    void uncoveredPiecesShowTheBandsAsPainted();
    void answerIsComparedAsExactText_data();
    void answerIsComparedAsExactText();
    void emptyAnswerIsWrongAndBeeps();
    void countersAddUp();
    void enterAfterTheAnswerPosesTheNextQuestionWhereverTheFocusIs_data();
    void enterAfterTheAnswerPosesTheNextQuestionWhereverTheFocusIs();
    void typedCharactersAreMappedBeforeTheBoxTakesThem_data();
    void typedCharactersAreMappedBeforeTheBoxTakesThem();
    void composedCharactersAreMappedToo();
    void countdownRunsFifteenMinutesThenEndsTheGame();
    void tickAfterTheEndDoesNotStartTheGameEndAgain();
    void caretRestsUntilThePlayerActs_data();
    void caretRestsUntilThePlayerActs();
    void caretBlinksAgainOnceTheBoxLetsGo_data();
    void caretBlinksAgainOnceTheBoxLetsGo();
};

void PlayingTest::questionStaysWithinTheLimit_data()
{
    QTest::addColumn<QString>("limit");
    QTest::addColumn<QList<float>>("randoms");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("numeral");
    const float highest = 0.99999994f; // the largest float below 1
    // A draw of 0 is drawn again, so the smallest number is 1.
    QTest::newRow("10, lowest") << "10" << QList<float>{0.05f, 0.1f} << "1" << "I";
    QTest::newRow("10, highest") << "10" << QList<float>{highest} << "9" << "IX";
    QTest::newRow("2 always gives 1") << "2" << QList<float>{0.0f, highest} << "1" << "I";
    QTest::newRow("3900 is kept") << "3900" << QList<float>{highest} << "3899" << "MMMDCCCXCIX";
    QTest::newRow("12abc counts as 12") << "12abc" << QList<float>{highest} << "11" << "XI";
    QTest::newRow("2.5 gives 2 at most") << "2.5" << QList<float>{highest} << "2" << "II";
    QTest::newRow("2.5 gives 1 too") << "2.5" << QList<float>{0.5f} << "1" << "I";
    // Below 2 the draw could only ever give 1 after endless zeros.
    QTest::newRow("1 ends with 1") << "1" << QList<float>{0.0f, 0.0f} << "1" << "I";
    QTest::newRow("0.5 ends with 1") << "0.5" << QList<float>{0.0f} << "1" << "I";
}

void PlayingTest::questionStaysWithinTheLimit()
{
    QFETCH(QString, limit);
    QFETCH(QList<float>, randoms);
    QFETCH(QString, expected);
    QFETCH(QString, numeral);
    GameFixture game;
    for (float r : randoms)
        game.services.randoms << r;
    Tavola &tavola = game.start(QStringLiteral("Anna"), limit);
    QCOMPARE(tavola.state().expectedAnswer, expected);
    QCOMPARE(game.control<QLineEdit>("Text2")->text(), numeral);
    QCOMPARE(tavola.state().questionRoman, numeral);
    QCOMPARE(game.caption("lblNum1"), expected);
    QCOMPARE(qint16(tavola.state().questionValue), qint16(0));
    QCOMPARE(tavola.state().maxNumber, limit);
}

void PlayingTest::limitAboveTheCapBecomes3800Silently_data()
{
    QTest::addColumn<QString>("limit");
    QTest::newRow("3901") << "3901";
    QTest::newRow("100000") << "100000";
    QTest::newRow("a limit too big for any integer") << QString(400, u'9');
}

void PlayingTest::limitAboveTheCapBecomes3800Silently()
{
    QFETCH(QString, limit);
    GameFixture game;
    game.services.randoms << 0.99999994f;
    Tavola &tavola = game.start(QStringLiteral("Anna"), limit);
    const QStringList dialoguesAtStart = game.services.shown;
    QCOMPARE(tavola.state().maxNumber, QStringLiteral("3800"));
    QCOMPARE(tavola.state().expectedAnswer, QStringLiteral("3799"));
    // Later questions find the lowered limit and nothing is said.
    game.answerRight();
    tavola.cmdNext_Click();
    QCOMPARE(tavola.state().maxNumber, QStringLiteral("3800"));
    QCOMPARE(game.services.shown, dialoguesAtStart);
}

// The first question of a game and every later one leave the window alike.
void PlayingTest::questionByActivationAndByButtonAreAlike()
{
    GameFixture game;
    game.services.randoms << 0.27f << 0.5f << 0.5f << 0.43f << 0.1f << 0.9f;
    Tavola &tavola = game.start();
    tavola.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&tavola));

    const auto checkPosed = [&](const QString &value, const QString &numeral) {
        QCOMPARE(game.answerText(), QString());
        QCOMPARE(game.caption("lblMessage"), QString());
        QCOMPARE(game.control("cmdNext")->accessibleName(), QStringLiteral("Nuovo calcolo"));
        QVERIFY(!game.control("cmdNext")->isEnabled());
        QCOMPARE(QApplication::focusWidget(), game.control("txtAnswer"));
        QCOMPARE(tavola.state().expectedAnswer, value);
        QCOMPARE(game.control<QLineEdit>("Text2")->text(), numeral);
    };
    checkPosed(QStringLiteral("27"), QStringLiteral("XXVII"));

    QTest::keyClicks(game.control("txtAnswer"), QStringLiteral("12"));
    QTest::keyClick(game.control("txtAnswer"), Qt::Key_Return);
    QVERIFY(game.control("cmdNext")->isEnabled());
    QCOMPARE(QApplication::focusWidget(), game.control("cmdNext"));
    // Enter on the focused button poses the next question.
    QTest::keyClick(game.control("cmdNext"), Qt::Key_Return);
    checkPosed(QStringLiteral("43"), QStringLiteral("XLIII"));
}

void PlayingTest::backgroundBandsRunFromBlue0ToBlue255()
{
    GameFixture game;
    // Question, then red and green of the background.
    game.services.randoms << 0.5f << 0.25f << 0.75f << 0.5f << 0.0f << 0.99999994f;
    Tavola &tavola = game.start();
    const auto surface = game.control<Surface>("Tavola");
    QImage background = surface->background();
    QCOMPARE(background.size(), surface->size() * surface->devicePixelRatio());
    QCOMPARE(background.pixelColor(0, 0), QColor(64, 192, 0));
    QCOMPARE(background.pixelColor(background.width() - 1, background.height() - 1), QColor(64, 192, 255));
    QCOMPARE(background.pixelColor(0, background.height() / 2).blue(), 128);

    game.answerRight();
    tavola.cmdNext_Click();
    background = surface->background();
    QCOMPARE(background.pixelColor(0, 0), QColor(0, 255, 0));
    QCOMPARE(background.pixelColor(0, background.height() - 1), QColor(0, 255, 255));
    QCOMPARE(game.services.seeds, 4); // twice per question
}

void PlayingTest::uncoveredPiecesShowTheBandsAsPainted()
{
    GameFixture game;
    // Question, red and green; twice.
    game.services.randoms << 0.5f << 0.25f << 0.75f << 0.5f << 0.0f << 0.99999994f;
    Tavola &tavola = game.start();
    const auto surface = game.control<Surface>("Tavola");
    const QSize posedAt = surface->size();
    tavola.resize(1920, 1200);
    QVERIFY(surface->width() > posedAt.width() && surface->height() > posedAt.height());
    // Pieces that another window uncovers: across band edges, across the
    // edge of the first question's bands, and beyond them.
    const QRegion uncovered = QRegion(3, 7, 50, 200) + QRegion(600, 420, 100, 40)
        + QRegion(0, 433, 1800, 1) + QRegion(1500, 1000, 40, 100);

    for (int question = 1; question <= 2; ++question) {
        if (question == 2) {
            game.answerRight();
            tavola.cmdNext_Click();
        }
        // The first question's bands keep the size it was posed at; the
        // second's cover the window made large.
        const QImage bands = surface->background();
        QCOMPARE(bands.size(), question == 1 ? posedAt : surface->size());

        QImage shown(surface->size(), QImage::Format_RGB32);
        shown.fill(Qt::magenta);
        QImage expected = shown;
        surface->render(&shown, uncovered.boundingRect().topLeft(), uncovered, {});
        QPainter painter(&expected);
        painter.setClipRegion(uncovered);
        painter.fillRect(expected.rect(), surface->palette().button());
        painter.drawImage(0, 0, bands);
        painter.end();
        QCOMPARE(shown, expected);
    }
}

void PlayingTest::answerIsComparedAsExactText_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("right");
    QTest::newRow("27") << "27" << true;
    QTest::newRow("leading zero") << "027" << false;
    QTest::newRow("blank before") << " 27" << false;
    QTest::newRow("blank after") << "27 " << false;
    QTest::newRow("decimal") << "27.0" << false;
    QTest::newRow("numeral") << "XXVII" << false;
}

void PlayingTest::answerIsComparedAsExactText()
{
    QFETCH(QString, typed);
    QFETCH(bool, right);
    GameFixture game;
    game.services.randoms << 0.27f;
    Tavola &tavola = game.start();
    QVERIFY(QTest::qWaitForWindowActive(&tavola));
    QTest::keyClicks(game.control("txtAnswer"), typed);
    QTest::keyClick(game.control("txtAnswer"), Qt::Key_Enter);

    QCOMPARE(game.answerText(), typed); // the answer stays, Enter is not inserted
    QCOMPARE(game.caption("lblMessage"),
             right ? QStringLiteral("Esatto, è incredibile!!!") : QStringLiteral("Sbagliato!! 27"));
    QCOMPARE(qint16(tavola.state().rightAnswers), qint16(right ? 1 : 0));
    QCOMPARE(qint16(tavola.state().wrongAnswers), qint16(right ? 0 : 1));
    QCOMPARE(game.caption("lblScore"), right ? QStringLiteral("1") : QStringLiteral("0"));
    QCOMPARE(game.caption("lblScore1"), right ? QStringLiteral("0") : QStringLiteral("1"));
    QCOMPARE(game.caption("lblScore2"), QStringLiteral("1"));
    QCOMPARE(game.services.beeps, right ? 0 : 1);
    QVERIFY(game.control("cmdNext")->isEnabled());
    // The button itself says the verdict, with no label a screen reader might keep.
    QAccessibleInterface *next = QAccessible::queryAccessibleInterface(game.control("cmdNext"));
    QCOMPARE(next->text(QAccessible::Name), game.caption("lblMessage") + QStringLiteral(" Nuovo calcolo"));
    QVERIFY(next->relations(QAccessible::Labelled).isEmpty());
}

void PlayingTest::emptyAnswerIsWrongAndBeeps()
{
    GameFixture game;
    game.services.randoms << 0.27f;
    QVERIFY(QTest::qWaitForWindowActive(&game.start()));
    QTest::keyClick(game.control("txtAnswer"), Qt::Key_Return);
    QCOMPARE(game.caption("lblMessage"), QStringLiteral("Sbagliato!! 27"));
    QCOMPARE(game.services.beeps, 1);
    QCOMPARE(game.caption("lblScore1"), QStringLiteral("1"));
}

// Whatever the mix of answers, the total is the sum of the two counts shown.
void PlayingTest::countersAddUp()
{
    GameFixture game;
    Tavola &tavola = game.start();
    const QString pattern = QStringLiteral("RWRRWRWWWRRRR");
    for (const QChar kind : pattern) {
        if (kind == u'R')
            game.answerRight();
        else
            game.answer(QStringLiteral("nope"));
        tavola.cmdNext_Click();
    }
    QCOMPARE(game.caption("lblScore"), QStringLiteral("8"));
    QCOMPARE(game.caption("lblScore1"), QStringLiteral("5"));
    QCOMPARE(game.caption("lblScore2"), QStringLiteral("13"));
    QCOMPARE(game.services.beeps, 5);
}

void PlayingTest::enterAfterTheAnswerPosesTheNextQuestionWhereverTheFocusIs_data()
{
    // After the verdict the focus is on cmdNext; the player moves it with
    // these keys, then clicks this control.
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<QString>("focus"); // where Enter finds it
    const int tab = Qt::Key_Tab, back = Qt::Key_Backtab;
    QTest::newRow("Tab back into the answer box") << QList<int>{tab} << "" << "txtAnswer";
    QTest::newRow("Shift+Tab back into the answer box") << QList<int>{tab, tab, back} << "" << "txtAnswer";
    QTest::newRow("a click into the answer box") << QList<int>{} << "txtAnswer" << "txtAnswer";
    QTest::newRow("a click on the numeral") << QList<int>{} << "Text2" << "Text2";
    QTest::newRow("Shift+Tab round to the picture box") << QList<int>{back, back} << "" << "Picture2";
    // A focused button takes Enter itself: Command1 does nothing.
    QTest::newRow("Tab on to Command1") << QList<int>{tab, tab} << "" << "Command1";
}

// Once an answer is scored, Enter presses the enabled next-question button
// and never scores the same answer again. The window is active, as the
// player's is: only then does Qt move the focus with its events.
void PlayingTest::enterAfterTheAnswerPosesTheNextQuestionWhereverTheFocusIs()
{
    QFETCH(QList<int>, keys);
    QFETCH(QString, clicked);
    QFETCH(QString, focus);
    GameFixture game;
    game.services.randoms << 0.27f << 0.5f << 0.5f << 0.43f;
    QVERIFY(QTest::qWaitForWindowActive(&game.start()));
    QTest::keyClicks(game.control("txtAnswer"), QStringLiteral("27"));
    QTest::keyClick(game.control("txtAnswer"), Qt::Key_Return);
    for (const int key : keys)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(key),
                        key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
    if (!clicked.isEmpty())
        QTest::mouseClick(game.control(qPrintable(clicked)), Qt::LeftButton);
    QVERIFY(QApplication::focusWidget());
    QCOMPARE(QApplication::focusWidget()->objectName(), focus);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

    QCOMPARE(game.caption("lblScore"), QStringLiteral("1"));
    QCOMPARE(game.caption("lblScore2"), QStringLiteral("1"));
    if (focus == u"Command1") {
        QCOMPARE(game.tavola->state().expectedAnswer, QStringLiteral("27"));
        return;
    }
    QCOMPARE(game.tavola->state().expectedAnswer, QStringLiteral("43"));
    QVERIFY(!game.control("cmdNext")->isEnabled());
    QCOMPARE(QApplication::focusWidget(), game.control("txtAnswer"));
    // With the button disabled again, Enter is the answer's once more.
    QTest::keyClicks(game.control("txtAnswer"), QStringLiteral("43"));
    QTest::keyClick(game.control("txtAnswer"), Qt::Key_Return);
    QCOMPARE(game.caption("lblScore"), QStringLiteral("2"));
    QCOMPARE(game.caption("lblScore2"), QStringLiteral("2"));
}

void PlayingTest::typedCharactersAreMappedBeforeTheBoxTakesThem_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("inBox");
    QTest::newRow("a becomes B") << "a" << "B";
    QTest::newRow("A becomes B") << "A" << "B";
    QTest::newRow("b becomes B") << "b" << "B";
    QTest::newRow("x becomes X") << "x" << "X";
    QTest::newRow("digits pass") << "5" << "5";
    QTest::newRow("accented letter") << "è" << "È";
    QTest::newRow("punctuation passes") << "-.," << "-.,";
    QTest::newRow("mixed") << "x1a" << "X1B";
    QTest::newRow("sixth character refused") << "123456" << "12345";
}

void PlayingTest::typedCharactersAreMappedBeforeTheBoxTakesThem()
{
    QFETCH(QString, typed);
    QFETCH(QString, inBox);
    GameFixture game;
    game.start();
    type(game.control("txtAnswer"), typed);
    QCOMPARE(game.answerText(), inBox);
    QTest::keyClick(game.control("txtAnswer"), Qt::Key_Backspace);
    QCOMPARE(game.answerText(), inBox.chopped(1));
}

void PlayingTest::composedCharactersAreMappedToo()
{
    GameFixture game;
    game.start();
    QInputMethodEvent composed;
    composed.setCommitString(QStringLiteral("ab7"));
    QCoreApplication::sendEvent(game.control("txtAnswer"), &composed);
    QCOMPARE(game.answerText(), QStringLiteral("BB7"));
}

void PlayingTest::countdownRunsFifteenMinutesThenEndsTheGame()
{
    GameFixture game;
    Tavola &tavola = game.start();
    QCOMPARE(game.caption("lblconto"), QStringLiteral("00:15:00"));
    QCOMPARE(qint16(tavola.state().secondsLeft), qint16(900));
    QVERIFY(game.control<QTimer>("Timer1")->isActive());
    QCOMPARE(game.control<QTimer>("Timer1")->interval(), 1000);

    const QMap<int, QString> shownAfter = {
        {1, QStringLiteral("00:14:59")}, {60, QStringLiteral("00:14:00")}, {61, QStringLiteral("00:13:59")},
        {300, QStringLiteral("00:10:00")}, {301, QStringLiteral("00:09:59")}, {841, QStringLiteral("00:00:59")},
        {899, QStringLiteral("00:00:01")}, {900, QStringLiteral("00:00:00")},
    };
    const QStringList dialoguesAtStart = game.services.shown;
    for (int tick = 1; tick <= 900; ++tick) {
        tavola.Timer1_Timer();
        QCOMPARE(qint16(tavola.state().secondsLeft), qint16(900 - tick));
        if (shownAfter.contains(tick))
            QCOMPARE(game.caption("lblconto"), shownAfter[tick]);
    }
    QCOMPARE(game.services.shown, dialoguesAtStart);

    // The 901st tick is the game end, and changes neither clock nor display.
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, tavola.Timer1_Timer());
    QCOMPARE(game.services.messages().constLast(), QStringLiteral("Ciao a presto..."));
    QCOMPARE(game.caption("lblconto"), QStringLiteral("00:00:00"));
    QCOMPARE(qint16(tavola.state().secondsLeft), qint16(0));
    QCOMPARE(qint16(tavola.state().clockMinutes), qint16(0));
}

// Ticks go on while the goodbye is open; they must not stack a second one.
void PlayingTest::tickAfterTheEndDoesNotStartTheGameEndAgain()
{
    GameFixture game;
    Tavola &tavola = game.start();
    for (int tick = 1; tick <= 900; ++tick)
        tavola.Timer1_Timer();
    int goodbyes = 0;
    game.services.whileShowing = [&](const QString &text) {
        if (text != u"Ciao a presto...")
            return;
        ++goodbyes;
        tavola.Timer1_Timer();
        tavola.cmdExit1_Click();
    };
    QVERIFY_THROWS_EXCEPTION(ProgramEnded, tavola.Timer1_Timer());
    QCOMPARE(goodbyes, 1);
}

void PlayingTest::caretRestsUntilThePlayerActs_data()
{
    QTest::addColumn<QString>("act");
    QTest::newRow("a key") << "key";
    QTest::newRow("composed text") << "composed";
    QTest::newRow("a click in the box") << "click";
}

void PlayingTest::caretRestsUntilThePlayerActs()
{
    QFETCH(QString, act);
    const QuickCaret caret;
    GameFixture game;
    QVERIFY(QTest::qWaitForWindowActive(&game.start()));
    auto *box = game.control<AnswerBox>("txtAnswer");
    QCOMPARE(QApplication::focusWidget(), box);
    PaintCounter counter(box);
    QVERIFY(counter.paintsWithin(caret.blink()) > 0); // blinking at first
    box->setCaretRestDelay(caret.rest);

    QTRY_COMPARE(QApplication::cursorFlashTime(), 0);
    QCOMPARE(counter.paintsWithin(caret.blink()), 0);

    if (act == u"key") {
        type(box, QStringLiteral("7"));
    } else if (act == u"composed") {
        QInputMethodEvent composed;
        composed.setCommitString(QStringLiteral("7"));
        QCoreApplication::sendEvent(box, &composed);
    } else {
        QTest::mouseClick(box, Qt::LeftButton);
    }
    QCOMPARE(QApplication::cursorFlashTime(), caret.flashTime);
    QCOMPARE(QApplication::focusWidget(), box);
    QVERIFY(counter.paintsWithin(caret.blink()) > 0);

    // And rests again after the next pause.
    QTRY_COMPARE(QApplication::cursorFlashTime(), 0);
}

// The blinking is the whole program's setting: a resting caret must not
// leave the next dialogue or window without one.
void PlayingTest::caretBlinksAgainOnceTheBoxLetsGo_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("focus on a button") << "button";
    QTest::newRow("dialogue on top") << "dialogue";
    QTest::newRow("answer scored") << "enter";
    QTest::newRow("new game") << "reload";
    QTest::newRow("window gone") << "destroyed";
}

void PlayingTest::caretBlinksAgainOnceTheBoxLetsGo()
{
    QFETCH(QString, how);
    const QuickCaret caret;
    GameFixture game;
    QVERIFY(QTest::qWaitForWindowActive(&game.start()));
    auto *box = game.control<AnswerBox>("txtAnswer");
    box->setCaretRestDelay(caret.rest);
    QTRY_COMPARE(QApplication::cursorFlashTime(), 0);

    if (how == u"button") {
        game.control("cmdExit1")->setFocus();
    } else if (how == u"dialogue") {
        // As the game asks: a modal dialogue over the window.
        auto *dialogue = new QInputDialog(game.tavola.get());
        int flashTimeInDialogue = -1;
        QTimer::singleShot(300, dialogue, [&] {
            flashTimeInDialogue = QApplication::cursorFlashTime();
            dialogue->reject();
        });
        dialogue->exec();
        QCOMPARE(flashTimeInDialogue, caret.flashTime);
    } else if (how == u"enter") {
        QTest::keyClick(box, Qt::Key_Return);
        QCOMPARE(QApplication::focusWidget(), game.control("cmdNext"));
    } else if (how == u"reload") {
        game.services.answers << runtime::Services::Yes;
        game.services.texts << QStringLiteral("Bruno") << QStringLiteral("50");
        game.tavola->Next_Click();
    } else {
        game.tavola.reset();
    }
    QCOMPARE(QApplication::cursorFlashTime(), caret.flashTime);
}

QTEST_MAIN(PlayingTest)
#include "tst_playing.moc"
