#include "Tavola.h"

#include "Characters.h"
#include "Controls.h"
#include "Modulo1.h"
#include "Pictures.h"
#include "Services.h"
#include "Values.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScopeGuard>
#include <QTimer>

#include <cmath>

using runtime::FormatValue;
using runtime::Int16;
using runtime::LeadingValue;

namespace {

const QString longCaption = QStringLiteral("Valtrino Settembre 2022");
const QString endOfTime = QStringLiteral("00:00:00");

// Client area of the definition, in pixels.
constexpr QSize clientSize(632, 434);

// The verdict is heard as part of the button's own name, before its
// caption: a screen reader asks a focused button for its name each time,
// while Orca 48 keeps the text of a label that names it for up to a minute.
void nameAfterVerdict(QPushButton *button, const QString &verdict)
{
    const QString caption = button->text().remove(u'&');
    button->setAccessibleName(verdict.isEmpty() ? caption : verdict + u' ' + caption);
}

} // namespace

Tavola::Tavola(runtime::Services &services, records::Location recordLocation, QWidget *parent)
    : QMainWindow(parent), m_services(services), m_recordLocation(std::move(recordLocation))
{
    setObjectName(QStringLiteral("Tavola"));
    QIcon icon(pictures::windowIcon());
    icon.addFile(pictures::doubleSize(pictures::windowIcon()));
    setWindowIcon(icon);
}

Tavola::~Tavola() = default;

void Tavola::Show()
{
    if (!m_loaded) {
        createControls();
        createMenus();
        connectHandlers();
        setWindowTitle(longCaption);
        resize(clientSize.width(), clientSize.height() + menuBar()->sizeHint().height());
        m_loaded = true;
        Form_Load();
        // Done after the start-up dialogues, so that the first comes sooner.
        dressControls();
    }
    show();
    // Without a window manager nobody activates the window; with one, the
    // activation comes late and again after every dialogue. The game's own
    // activation step runs once per load, here.
    activateWindow();
    Form_Activate();
}

void Tavola::Unload()
{
    if (!m_loaded)
        return;
    m_loaded = false;
    hide();
    Timer1->stop();
    // Unload may run inside a handler of one of these very controls, so
    // they go once that handler has returned.
    if (QWidget *surface = takeCentralWidget()) {
        surface->hide();
        surface->deleteLater();
    }
    if (QWidget *bar = menuWidget()) {
        bar->hide();
        bar->deleteLater();
        setMenuWidget(nullptr);
    }
    m_surface = nullptr;
    m_defaultButton = nullptr;
}

int Tavola::WindowState() const
{
    if (windowState() & Qt::WindowMinimized)
        return 1;
    if (windowState() & Qt::WindowMaximized)
        return 2;
    return 0;
}

QString Tavola::GetSystemDir() const
{
    return records::GetSystemDir(m_recordLocation);
}

QString Tavola::Leggifiletxt(QString &nomefile) const
{
    return records::readWhole(nomefile);
}

int Tavola::message(const QString &text, int code, const QString &title)
{
    ++m_dialoguesOpen;
    const auto closed = qScopeGuard([this] { --m_dialoguesOpen; });
    return m_services.ShowMessage(text, code, title);
}

QString Tavola::ask(const QString &prompt)
{
    ++m_dialoguesOpen;
    const auto closed = qScopeGuard([this] { --m_dialoguesOpen; });
    return m_services.AskText(prompt);
}

void Tavola::connectHandlers()
{
    connect(Timer1, &QTimer::timeout, this, &Tavola::Timer1_Timer);
    txtAnswer->keyPress = [this](Int16 &KeyAscii) { txtAnswer_KeyPress(KeyAscii); };
    txtAnswer->leavesEnter = [this] { return enabledDefaultButton() != nullptr; };
    connect(cmdNext, &QPushButton::clicked, this, &Tavola::cmdNext_Click);
    connect(cmdExit1, &QPushButton::clicked, this, &Tavola::cmdExit1_Click);
    connect(Next, &QAction::triggered, this, &Tavola::Next_Click);
}

void Tavola::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_loaded)
        Form_Resize();
}

QPushButton *Tavola::enabledDefaultButton() const
{
    if (m_defaultButton && m_defaultButton->isEnabled() && m_defaultButton->isVisible())
        return m_defaultButton;
    return nullptr;
}

void Tavola::keyPressEvent(QKeyEvent *event)
{
    if (isEnterKey(event)) {
        if (QPushButton *button = enabledDefaultButton()) {
            button->click();
            return;
        }
    }
    QMainWindow::keyPressEvent(event);
}

void Tavola::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (m_loaded)
        Form_Resize();
}

void Tavola::closeEvent(QCloseEvent *event)
{
    // The dialogue on top must be answered first; closing the window under
    // it would leave the game half ended.
    if (m_dialoguesOpen > 0) {
        event->ignore();
        return;
    }
    // Closing the window from its frame ends the program: no score, no write.
    event->accept();
    QCoreApplication::quit();
}

void Tavola::Form_Load()
{
    rightAnswers = 0;
    wrongAnswers = 0;
    Timer1->stop();

    const QString name = ask(QStringLiteral("Come ti chiami?"));
    message(QStringLiteral(" ") + name + QStringLiteral(" vediamo se sei un vero campione  "));
    lblnome1->setCaption(name);

    for (;;) {
        message(QStringLiteral(" Inserisci il numero più grande che potrò utilizzare"));
        maxNumber = ask(QStringLiteral("Allora arriverò fino al numero?  "));
        if (maxNumber.isEmpty()) {
            maxNumber = QStringLiteral("100");
            message(QStringLiteral("Allora scelgo io: fino a 100"));
            break;
        }
        if (LeadingValue(maxNumber) > 0)
            break;
        message(QStringLiteral("Ho detto inserisci un numero e non lettere"));
    }

    StartCountdown();

    windowsDir = GetSystemDir();
    fileNo = records::FreeFile();
    records::createFiles(m_recordLocation, windowsDir);

    QString scoreFile = records::scorePath(windowsDir);
    lblpunti->setCaption(Leggifiletxt(scoreFile));
    QString nameFile = records::namePath(windowsDir);
    lblnome->setCaption(Leggifiletxt(nameFile));

    secondsLeft = Int16::fromDouble(clockSeconds + 900);
    lblconto->setCaption(clockText());
}

void Tavola::Form_Activate()
{
    cmdNext_Click();
}

void Tavola::Form_Resize()
{
    if (WindowState() == 1)
        setWindowTitle(QStringLiteral("Valtrino"));
}

void Tavola::cmdNext_Click()
{
    lblMessage->setCaption(QString());
    m_services.SeedRandom();
    if (maxNumber.isEmpty())
        maxNumber = QStringLiteral("100");
    if (LeadingValue(maxNumber) > 3900)
        maxNumber = QStringLiteral("3800");

    // Below 2 the only number the draw can give is 1; drawing for it
    // could go on for ever, so it is given at once.
    const double limit = LeadingValue(maxNumber);
    Int16 drawn = 1;
    if (limit >= 2) {
        do {
            drawn = Int16::fromDouble(std::floor(double(m_services.NextRandom()) * limit));
        } while (drawn == 0);
    }

    lblNum1->setCaption(FormatValue(drawn, QStringLiteral("#0")));
    questionValue = drawn;
    qint16 counted = questionValue;
    questionRoman = Modulo1::ToRoman(counted);
    questionValue = counted;
    Text2->setText(questionRoman);
    // Orca speaks it with the answer box, as the focus comes there, and
    // the tool tip after it as the box's description. In the name: Orca 48
    // speaks a description it generated in the last 2 s, which typing the
    // answer does.
    txtAnswer->setAccessibleName(QStringLiteral("Numero romano ") + spelledOut(questionRoman)
                                 + QStringLiteral(". Risposta"));
    expectedAnswer = runtime::IntegerText(drawn);
    // The box takes the focus before it is emptied. Orca, told of a change
    // in a box that has the focus before it is told of the focus, takes the
    // focus as known and does not speak the box.
    txtAnswer->setFocus();
    txtAnswer->setText(QString());
    cmdNext->setEnabled(false);
    // Renamed once it has lost the focus: Orca speaks the new name of the
    // focused control.
    nameAfterVerdict(cmdNext, QString());

    m_services.SeedRandom();
    const int red = int(256 * m_services.NextRandom());
    const int green = int(256 * m_services.NextRandom());
    m_surface->paintBands(red, green);
}

void Tavola::txtAnswer_KeyPress(Int16 &KeyAscii)
{
    QString character = runtime::Chr(KeyAscii);
    if (character == u"a")
        character = QStringLiteral("b");
    if (character == u"A")
        character = QStringLiteral("B");
    KeyAscii = runtime::Asc(runtime::UCase(character));

    if (KeyAscii != 13)
        return;
    if (txtAnswer->text() == expectedAnswer) {
        rightAnswers += 1;
        lblMessage->setCaption(QStringLiteral("Esatto, è incredibile!!!"));
    } else {
        wrongAnswers += 1;
        lblMessage->setCaption(QStringLiteral("Sbagliato!! ") + FormatValue(expectedAnswer, QStringLiteral("####0")));
        m_services.Beep();
        lblScore1->setCaption(FormatValue(wrongAnswers, QStringLiteral("###0")));
    }
    lblScore->setCaption(FormatValue(rightAnswers, QStringLiteral("####0")));
    lblScore2->setCaption(FormatValue(wrongAnswers + rightAnswers, QStringLiteral("####0")));
    nameAfterVerdict(cmdNext, lblMessage->caption());
    cmdNext->setEnabled(true);
    cmdNext->setFocus();
    KeyAscii = 0;
}

void Tavola::StartCountdown()
{
    Timer1->start();
    clockHours = 0;
    clockMinutes = 15;
    clockSeconds = 0;
    secondsLeft = 900;
    lblconto->setCaption(clockText());
}

QString Tavola::clockText() const
{
    const QString twoDigits = QStringLiteral("00");
    return FormatValue(clockHours, twoDigits) + u':' + FormatValue(clockMinutes, twoDigits) + u':'
        + FormatValue(clockSeconds, twoDigits);
}

void Tavola::Timer1_Timer()
{
    if (lblconto->caption() == endOfTime) {
        // Ticks go on while a dialogue is open. The game end waits for the
        // first tick after it closes, rather than stack its own on top.
        if (m_dialoguesOpen == 0)
            cmdExit1_Click();
        return;
    }
    if (clockSeconds == 0) {
        if (clockMinutes > 0) {
            clockSeconds = 60;
            clockMinutes -= 1;
        } else if (clockHours > 0) {
            clockMinutes = 59;
            clockHours -= 1;
            clockSeconds = 60;
        }
    }
    clockSeconds -= 1;
    secondsLeft -= 1;
    lblconto->setCaption(clockText());
}

void Tavola::cmdExit1_Click()
{
    // Once the game end has begun, nothing may begin it again.
    if (m_gameEnding)
        return;
    m_gameEnding = true;

    message(QStringLiteral("Ciao a presto..."));
    const double stored = LeadingValue(lblpunti->caption());
    const double current = runtime::StrictValue(lblScore->caption());
    if (stored >= current)
        m_services.EndProgram();

    fileNo = records::FreeFile();
    recordLine = lblScore->caption();
    const QString score = recordLine;
    fileNo = records::FreeFile();
    recordLine = lblnome1->caption();
    // Under the lock, against the score file as it is now: another copy of
    // the game may have stored a better score meanwhile.
    const records::Store outcome = records::storeRecord(m_recordLocation, windowsDir, score, recordLine, current);
    if (outcome == records::Store::NotHigher)
        m_services.EndProgram();
    // Lab mode only: the school's server was out of reach.
    if (outcome == records::Store::Pending)
        message(QStringLiteral("Ok ho registrato il tuo record su questo PC, arriverà al server del laboratorio, "
                               "C A M P I O N E"));
    else
        message(QStringLiteral("Ok ho registrato il tuo record, C A M P I O N E\""));
    m_services.EndProgram();
}

void Tavola::Next_Click()
{
    const int answer = message(QStringLiteral("INIZIAMO UNA NUOVA GARA  ?"),
                               runtime::Services::YesNoQuestionDefaultNo, QStringLiteral("INIZIARE NUOVA GARA"));
    if (answer == runtime::Services::No)
        return;
    Unload();
    Show();
}
