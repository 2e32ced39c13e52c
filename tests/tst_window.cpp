// The window against its definition, held here as a table of our own, and
// the keys, clicks and reloads that depend on how its controls are laid out.

#include "Controls.h"
#include "IconPointer.h"
#include "Pictures.h"
#include "ScriptedServices.h"
#include "Tavola.h"

#include <QAccessible>
#include <QAction>
#include <QHash>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <array>
#include <memory>

namespace {

enum class Kind { TextBox, Timer, Button, GraphicalButton, PictureBox, Label, Image };

enum Trait : unsigned { Opaque = 1, Border = 2, Centred = 4, AutoSize = 8, Hidden = 16, Disabled = 32 };

struct Face
{
    const char *name; // nullptr: left to the toolkit
    double points;
    int weight;
    bool italic;
};

constexpr QRgb System = 0; // the system's colour
constexpr QRgb rgb(QRgb hex) { return 0xFF000000u | hex; }

struct Control
{
    const char *name;
    Kind kind;
    int left, top, width, height; // twips
    int tabIndex;                 // -1: none
    const char16_t *text;         // nullptr: the control has no text
    Face face;
    QRgb colour;
    QRgb back;
    unsigned traits;
    const char16_t *toolTip;
    QSize picture;
};

constexpr Face None{nullptr, 0, 0, false};
constexpr Face Narrow48{"Arial Narrow", 48, 700, false};
constexpr Face SansBold8{"MS Sans Serif", 8.25, 700, false};
constexpr Face Times12{"Times New Roman", 12, 700, false};
constexpr Face Sans18{"MS Sans Serif", 18, 400, false};
constexpr Face SansBold13{"MS Sans Serif", 13.5, 700, false};
constexpr Face Times36{"Times New Roman", 36, 700, false};

const std::array<Control, 28> definition = {{
    {"Text2", Kind::TextBox, 120, 360, 6735, 1275, 15, u"II", Narrow48, System, rgb(0xFF80FF), 0, nullptr, {}},
    {"Timer1", Kind::Timer, 0, 0, 0, 0, -1, nullptr, None, System, System, 0, nullptr, {}},
    {"txtAnswer", Kind::TextBox, 6960, 360, 2415, 1290, 8, u"2", Narrow48, System, rgb(0xFF80FF), 0,
     u"Inserisci il numero e  premi il tasto  Invio", {}},
    {"cmdNext", Kind::GraphicalButton, 3480, 4920, 1815, 1095, 2, u"&Nuovo calcolo", SansBold8, System,
     rgb(0x00C0C0), Disabled, u"Go", {}},
    {"cmdExit1", Kind::GraphicalButton, 6600, 4920, 1815, 1095, 0, u"E&xit", SansBold8, System, rgb(0xFF8000), 0,
     u"Ti prego resta ancora, forse riuscirai a fare il record", {}},
    {"Command1", Kind::Button, 4080, 5040, 855, 615, 11, u"Command1", {"MS Sans Serif", 7.5, 400, false}, System,
     System, 0, nullptr, {}},
    {"Picture2", Kind::PictureBox, 1920, 1680, 1140, 1335, 24, nullptr, None, System, System, Border, nullptr,
     {77, 86}},
    {"Picture1", Kind::PictureBox, 2160, 2040, 4800, 3000, 23, nullptr, None, System, System, AutoSize | Hidden,
     nullptr, {320, 200}},
    {"Label5", Kind::Label, 3240, 0, 2775, 255, 25, u"ALEA   JACTA   EST", Times12, rgb(0xFF0000), System, 0,
     nullptr, {}},
    {"Label1", Kind::Label, 3240, 3120, 2520, 495, 9, u"Risposte errate", Sans18, rgb(0xFF0000), System,
     Border | AutoSize, nullptr, {}},
    {"Label4", Kind::Label, 120, 0, 2535, 375, 22, u"Numero romano ", Times12, rgb(0xFFFFFF), System, 0, nullptr,
     {}},
    {"Label2", Kind::Label, 6960, 0, 3975, 255, 21, u"Corrisponde al numero", Times12, rgb(0xFFFFFF), System, 0,
     nullptr, {}},
    {"lblconto", Kind::Label, 240, 2400, 1575, 495, 20, u"00.00.00", {"Arial Black", 12, 900, false},
     rgb(0xFFFF00), System, Border, nullptr, {}},
    {"Label11", Kind::Label, 120, 2040, 1815, 375, 19, u"Tempo restante", {"MS Sans Serif", 9.75, 700, false},
     rgb(0xFF0000), System, 0, nullptr, {}},
    {"lblpunti", Kind::Label, 7560, 6240, 195, 435, 18, u"0", Sans18, rgb(0xC000C0), System, AutoSize, nullptr,
     {}},
    {"Label13", Kind::Label, 6000, 6240, 1455, 435, 17, u"con punti", Sans18, rgb(0x00FF00), System, AutoSize,
     nullptr, {}},
    {"lblnome", Kind::Label, 2520, 6240, 990, 435, 16, u"nome", {"MS Sans Serif", 18, 700, false}, rgb(0x0000FF),
     System, AutoSize, nullptr, {}},
    {"Label12", Kind::Label, 120, 6240, 2295, 375, 14, u"Il record  è di ", Sans18, rgb(0x00FF00), System, 0,
     nullptr, {}},
    {"lblnome1", Kind::Label, 240, 5640, 165, 420, 13, u"", SansBold13, rgb(0x00FFFF), System, Border | AutoSize,
     nullptr, {}},
    {"Label14", Kind::Label, 240, 5160, 1215, 420, 12, u"Sfidante", SansBold13, rgb(0x00FFFF), System,
     Border | Centred | AutoSize, nullptr, {}},
    {"Label3", Kind::Label, 6360, 3120, 2340, 495, 10, u"Risposte totali", Sans18, rgb(0x0000FF), System,
     Border | AutoSize, nullptr, {}},
    {"lblScore2", Kind::Label, 7200, 3840, 555, 885, 7, u"0", Times36, rgb(0x0000FF), System,
     Border | Centred | AutoSize, nullptr, {}},
    {"lblScore1", Kind::Label, 4080, 3840, 540, 885, 3, u"0", Times36, rgb(0xFF0000), System,
     Border | Centred | AutoSize, nullptr, {}},
    {"lblNum1", Kind::Label, 1080, 4920, 1545, 945, 5, u"", {"Arial", 48, 700, false}, System, rgb(0xFF80FF),
     Opaque | Border | Centred | AutoSize | Hidden, nullptr, {}},
    {"lblScore", Kind::Label, 1080, 3840, 555, 885, 4, u"0", Times36, System, System, Border | Centred | AutoSize,
     u"Questo è il tuo punteggio. Forza con il  record", {}},
    {"lblMessage", Kind::Label, 3120, 2040, 6615, 615, 1, u"", {"MS Sans Serif", 24, 700, true}, rgb(0xFF0000),
     System, Centred, nullptr, {}},
    {"Label6", Kind::Label, 240, 3120, 2565, 495, 6, u"Risposte esatte", Sans18, rgb(0x00C000), System,
     Border | Centred | AutoSize, nullptr, {}},
    {"Image1", Kind::Image, 480, 1800, 480, 480, -1, nullptr, None, System, System, 0,
     u"Clicca sotto di me per impostare il Timer", {32, 32}},
}};

const Control &controlNamed(const QString &name)
{
    for (const Control &control : definition) {
        if (name == QLatin1String(control.name))
            return control;
    }
    qFatal("no control %s in the table", qPrintable(name));
}

QRect pixels(const Control &control)
{
    return QRect(control.left / 15, control.top / 15, control.width / 15, control.height / 15);
}

bool isWindowed(Kind kind)
{
    return kind == Kind::TextBox || kind == Kind::Button || kind == Kind::GraphicalButton
        || kind == Kind::PictureBox;
}

// Labels and the image lie beneath the windowed controls; within each
// layer, later in the table is higher.
int expectedRank(const Control &wanted)
{
    int rank = 0;
    for (const bool windowed : {false, true}) {
        for (const Control &control : definition) {
            if (control.kind == Kind::Timer || isWindowed(control.kind) != windowed)
                continue;
            if (&control == &wanted)
                return rank;
            ++rank;
        }
    }
    return -1;
}

// The faces this system has in place of the classic ones.
QString installedFamily(const char *face)
{
    const QLatin1String name(face);
    if (name == QLatin1String("Arial Narrow"))
        return QStringLiteral("Liberation Sans Narrow");
    if (name == QLatin1String("Times New Roman"))
        return QStringLiteral("Liberation Serif");
    if (name == QLatin1String("Arial Black"))
        return QStringLiteral("Lato");
    return QStringLiteral("Liberation Sans");
}

QString textOf(const QObject *object)
{
    if (auto *label = qobject_cast<const CaptionLabel *>(object))
        return label->caption();
    if (auto *box = qobject_cast<const QLineEdit *>(object))
        return box->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(object))
        return button->text();
    return QString();
}

struct Seen
{
    QString text;
    bool enabled = false;
    bool hidden = false;
};

// Show() runs the start-up and poses the first question, which change some
// texts; the controls as created are seen from the start-up's first input
// dialogue, which comes before either touches them.
class WatchingServices : public ScriptedServices
{
public:
    QPointer<QMainWindow> window;
    QList<QHash<QString, Seen>> loads; // the controls as created, per load

    QString AskText(const QString &prompt) override
    {
        QWidget *surface = window ? window->centralWidget() : nullptr;
        if (surface && surface != m_seenSurface) {
            m_seenSurface = surface;
            QHash<QString, Seen> seen;
            for (QWidget *widget : surface->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
                seen.insert(widget->objectName(), {textOf(widget), widget->isEnabled(), widget->isHidden()});
            loads << seen;
        }
        return ScriptedServices::AskText(prompt);
    }

private:
    QPointer<QWidget> m_seenSurface;
};

struct Game
{
    WatchingServices services;
    QTemporaryDir dir;
    Tavola tavola{services, records::Location{dir.path(), dir.path()}};

    explicit Game(const QString &name = QStringLiteral("Anna"))
    {
        services.texts << name << QStringLiteral("50");
        services.window = &tavola;
        tavola.Show();
    }

    template <typename T = QWidget>
    T *control(const QString &name) const
    {
        return tavola.centralWidget()->findChild<T *>(name, Qt::FindDirectChildrenOnly);
    }
    QMenuBar *bar() const { return qobject_cast<QMenuBar *>(tavola.menuWidget()); }
    QAction *item(const QString &name) const { return bar()->findChild<QAction *>(name); }

    // Qt moves the focus with its events only in the active window, as the
    // player's is; of the games open at once, one is active at a time.
    bool activate()
    {
        tavola.activateWindow();
        return QTest::qWaitForWindowActive(&tavola);
    }

    // A scored answer, which enables cmdNext.
    void answer(const QString &typed)
    {
        auto *box = control<QLineEdit>(QStringLiteral("txtAnswer"));
        QTest::keyClicks(box, typed);
        QTest::keyClick(box, Qt::Key_Return);
    }

    // Everything a player could notice, to tell that nothing happened.
    QStringList state() const
    {
        QStringList lines{tavola.windowTitle(), QString::number(tavola.isLoaded()),
                          QString::number(tavola.isVisible()),
                          QString::number(quintptr(tavola.centralWidget()))};
        for (QWidget *widget : tavola.centralWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            lines << widget->objectName() + u'|' + textOf(widget) + u'|' + QString::number(widget->isEnabled())
                    + QString::number(widget->isVisible());
        return lines;
    }
};

void deleteWhatWasUnloaded()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The player's name is cancelled at the first load, left empty after a
// named game, and typed after a cancelled one.
enum Load { FirstLoad, ReloadByCode, ReloadByNext };
const char *const loadNames[] = {"at first load", "after a reload", "after a reload by Nuovo gioco"};
const QString firstNames[] = {QString(), QStringLiteral("Anna"), QString()};
const QString reloadNames[] = {QString(), QStringLiteral(""), QStringLiteral("Carla")};

} // namespace

class WindowTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void controlSitsWhereDefined_data() { controlRows(); }
    void controlSitsWhereDefined();
    void controlLooksAsDefined_data() { controlRows(); }
    void controlLooksAsDefined();
    void controlStartsAsDefined_data() { controlRows(); }
    void controlStartsAsDefined();
    void loadGivesLongCaptionClientAreaAndRunningClock_data() { loadRows(); }
    void loadGivesLongCaptionClientAreaAndRunningClock();
    void menuHoldsDefinedItemsInOrder_data();
    void menuHoldsDefinedItemsInOrder();
    void menuItemIsAsDefined_data();
    void menuItemIsAsDefined();
    void choosingMenuItemDoesNothingUnlessItIsNext_data();
    void choosingMenuItemDoesNothingUnlessItIsNext();
    void nextItemReloadsWindowSafelyFromItsOwnHandler();
    void clickGoesToTopmostControlUnderPointer_data();
    void clickGoesToTopmostControlUnderPointer();
    void altLetterPressesOnlyAnEnabledButton_data();
    void altLetterPressesOnlyAnEnabledButton();
    void tabMovesFocusInDefinedOrder_data();
    void tabMovesFocusInDefinedOrder();
    void answerBoxTakesAtMostFiveTypedCharacters_data();
    void answerBoxTakesAtMostFiveTypedCharacters();
    void controlWithGameRoleHasAccessibleName_data();
    void controlWithGameRoleHasAccessibleName();
    void pointerIsTheDefinedPicture_data();
    void pointerIsTheDefinedPicture();

private:
    void controlRows();
    void loadRows();
    Game &loaded(int load) const { return *m_loads.at(load); }

    // The same window at first load and after each kind of reload, each
    // reload following a played answer and a changed caption.
    std::array<std::unique_ptr<Game>, 3> m_loads;
    // Each clock as its load left it, before any tick: the rows run later.
    std::array<QString, 3> m_clockAtLoad;
};

void WindowTest::initTestCase()
{
    const auto clockOf = [this](int load) { return loaded(load).control<CaptionLabel>(QStringLiteral("lblconto"))->caption(); };
    for (int load : {FirstLoad, ReloadByCode, ReloadByNext}) {
        m_loads[load] = std::make_unique<Game>(firstNames[load]);
        m_clockAtLoad[load] = clockOf(load);
    }

    Game &byCode = loaded(ReloadByCode);
    byCode.answer(QStringLiteral("0"));
    byCode.tavola.setWindowTitle(QStringLiteral("Valtrino"));
    byCode.tavola.Unload();
    deleteWhatWasUnloaded();
    byCode.services.texts << reloadNames[ReloadByCode] << QStringLiteral("20");
    byCode.tavola.Show();
    m_clockAtLoad[ReloadByCode] = clockOf(ReloadByCode);

    Game &byNext = loaded(ReloadByNext);
    byNext.answer(QStringLiteral("0"));
    byNext.tavola.setWindowTitle(QStringLiteral("Valtrino"));
    byNext.services.answers << runtime::Services::Yes;
    byNext.services.texts << reloadNames[ReloadByNext] << QStringLiteral("30");
    byNext.item(QStringLiteral("Next"))->trigger();
    m_clockAtLoad[ReloadByNext] = clockOf(ReloadByNext);
    deleteWhatWasUnloaded();

    for (const auto &game : m_loads) {
        QVERIFY(game->tavola.isLoaded());
        QVERIFY(game->services.texts.isEmpty());
    }
    QVERIFY(loaded(FirstLoad).control<CaptionLabel>(QStringLiteral("lblnome1"))->caption().isEmpty());
    QVERIFY(loaded(ReloadByCode).control<CaptionLabel>(QStringLiteral("lblnome1"))->caption().isEmpty());
    QCOMPARE(loaded(ReloadByNext).control<CaptionLabel>(QStringLiteral("lblnome1"))->caption(),
             QStringLiteral("Carla"));
}

void WindowTest::cleanupTestCase()
{
    for (auto &game : m_loads)
        game.reset();
}

void WindowTest::controlRows()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("load");
    for (const int load : {FirstLoad, ReloadByCode, ReloadByNext}) {
        for (const Control &control : definition)
            QTest::addRow("%s %s", control.name, loadNames[load]) << QString::fromLatin1(control.name) << load;
    }
}

void WindowTest::loadRows()
{
    QTest::addColumn<int>("load");
    for (const int load : {FirstLoad, ReloadByCode, ReloadByNext})
        QTest::newRow(loadNames[load]) << load;
}

// Each control is of its kind, at its place, in its layer and tab slot.
void WindowTest::controlSitsWhereDefined()
{
    QFETCH(QString, name);
    QFETCH(int, load);
    const Control &row = controlNamed(name);
    const Game &game = loaded(load);

    if (row.kind == Kind::Timer) {
        QVERIFY(game.tavola.findChild<QTimer *>(name));
        return;
    }
    QWidget *widget = game.control(name);
    QVERIFY(widget);

    switch (row.kind) {
    case Kind::TextBox:
        QVERIFY(qobject_cast<QLineEdit *>(widget));
        break;
    case Kind::Button:
        QVERIFY(qobject_cast<QPushButton *>(widget));
        QVERIFY(!qobject_cast<PictureButton *>(widget)); // the standard look
        break;
    case Kind::GraphicalButton:
        QVERIFY(qobject_cast<PictureButton *>(widget));
        break;
    case Kind::PictureBox:
        QVERIFY(qobject_cast<PictureBox *>(widget));
        break;
    case Kind::Label:
        QVERIFY(qobject_cast<CaptionLabel *>(widget));
        break;
    case Kind::Image:
        QVERIFY(qobject_cast<QLabel *>(widget) && !qobject_cast<CaptionLabel *>(widget));
        break;
    case Kind::Timer:
        break;
    }

    const QRect table = pixels(row);
    if (row.kind == Kind::Label && (row.traits & AutoSize)) {
        // Auto-size keeps the corner and takes the caption's size inside the
        // border; an empty line is one blank wide, and an empty caption (an
        // empty name, empty record files) has the size of the table.
        auto *label = static_cast<CaptionLabel *>(widget);
        QCOMPARE(widget->pos(), table.topLeft());
        const QFontMetrics metrics(widget->font());
        const QStringList lines = label->text().split(u'\n');
        int width = 0;
        for (const QString &line : lines)
            width = qMax(width, metrics.horizontalAdvance(line.isEmpty() ? QStringLiteral(" ") : line));
        if (label->caption().isEmpty()) {
            QCOMPARE(widget->size(), table.size());
        } else {
            QCOMPARE(label->contentsRect().size(), QSize(width, int(lines.size()) * metrics.lineSpacing()));
            QCOMPARE(label->size() - label->contentsRect().size(), row.traits & Border ? QSize(4, 4) : QSize(0, 0));
        }
    } else if (row.kind == Kind::PictureBox && (row.traits & AutoSize)) {
        QCOMPARE(widget->geometry(), QRect(table.topLeft(), row.picture));
    } else {
        QCOMPARE(widget->geometry(), table);
    }

    QList<QWidget *> stack = game.tavola.centralWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(stack.size(), qsizetype(definition.size() - 1));
    QCOMPARE(stack.indexOf(widget), expectedRank(row));

    if (row.tabIndex >= 0)
        QCOMPARE(widget->property("tabIndex").toInt(), row.tabIndex);
    if (isWindowed(row.kind))
        QVERIFY(widget->focusPolicy() & Qt::TabFocus);
    else
        QCOMPARE(widget->focusPolicy(), Qt::NoFocus);
}

// Each control has its face, colours, border, alignment and picture.
void WindowTest::controlLooksAsDefined()
{
    QFETCH(QString, name);
    QFETCH(int, load);
    const Control &row = controlNamed(name);
    if (row.kind == Kind::Timer)
        return;
    QWidget *widget = loaded(load).control(name);
    QVERIFY(widget);

    if (row.face.name) {
        const int pixelSize = qRound(row.face.points * 96 / 72);
        const QFontInfo resolved(widget->font());
        QCOMPARE(resolved.family(), installedFamily(row.face.name));
        QCOMPARE(widget->font().pixelSize(), pixelSize);
        QCOMPARE(resolved.pixelSize(), pixelSize);
        QCOMPARE(widget->font().weight(), row.face.weight);
        QCOMPARE(resolved.weight(), row.face.weight);
        QCOMPARE(resolved.italic(), row.face.italic);
    }
    if (auto *button = qobject_cast<QPushButton *>(widget); button && row.kind == Kind::Button) {
        // The caption shows whole between the button's edges.
        QStyleOptionButton option;
        option.initFrom(button);
        const QRect room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const int needed = button->fontMetrics().horizontalAdvance(button->text());
        QVERIFY2(needed <= room.width(), qPrintable(QStringLiteral("%1 > %2").arg(needed).arg(room.width())));
        QVERIFY(button->fontMetrics().height() <= room.height());
    }

    const QPalette system = QApplication::palette(widget);
    const auto expected = [&](QRgb colour, QPalette::ColorRole role) {
        return colour == System ? system.color(role) : QColor::fromRgb(colour);
    };
    switch (row.kind) {
    case Kind::TextBox: {
        QCOMPARE(widget->palette().color(QPalette::Text), expected(row.colour, QPalette::Text));
        QCOMPARE(widget->palette().color(QPalette::Base), expected(row.back, QPalette::Base));
        // A sunken edge two pixels wide: dark at the left and top, light at
        // the right and bottom, the back colour right inside it.
        const QImage drawn = widget->grab().toImage();
        const int right = drawn.width() - 1, bottom = drawn.height() - 1;
        const int midX = drawn.width() / 2, midY = drawn.height() / 2;
        const QColor back = QColor::fromRgb(row.back);
        for (const QPoint edge : {QPoint(0, midY), QPoint(1, midY), QPoint(right, midY), QPoint(right - 1, midY),
                                  QPoint(midX, 0), QPoint(midX, 1), QPoint(midX, bottom), QPoint(midX, bottom - 1)})
            QVERIFY2(drawn.pixelColor(edge) != back, qPrintable(QStringLiteral("edge at %1,%2").arg(edge.x()).arg(edge.y())));
        QCOMPARE(drawn.pixelColor(right - 2, bottom - 2), back);
        QVERIFY(drawn.pixelColor(0, midY).lightness() < drawn.pixelColor(right, midY).lightness());
        QVERIFY(drawn.pixelColor(midX, 0).lightness() < drawn.pixelColor(midX, bottom).lightness());
        break;
    }
    case Kind::GraphicalButton:
        QCOMPARE(static_cast<PictureButton *>(widget)->faceColour(), QColor::fromRgb(row.back));
        break;
    case Kind::Button:
        QCOMPARE(widget->palette().color(QPalette::Button), system.color(QPalette::Button));
        QCOMPARE(widget->palette().color(QPalette::ButtonText), system.color(QPalette::ButtonText));
        break;
    case Kind::Label: {
        auto *label = static_cast<CaptionLabel *>(widget);
        QCOMPARE(label->palette().color(QPalette::WindowText), expected(row.colour, QPalette::WindowText));
        QCOMPARE(label->autoFillBackground(), bool(row.traits & Opaque));
        if (row.traits & Opaque)
            QCOMPARE(label->palette().color(QPalette::Window), QColor::fromRgb(row.back));
        QCOMPARE(label->frameWidth() > 0, bool(row.traits & Border));
        QCOMPARE(label->alignment() & Qt::AlignHorizontal_Mask,
                 row.traits & Centred ? Qt::AlignHCenter : Qt::AlignLeft);
        break;
    }
    case Kind::PictureBox: {
        auto *box = static_cast<PictureBox *>(widget);
        QCOMPARE(box->frameWidth() > 0, bool(row.traits & Border));
        QCOMPARE(box->picture().deviceIndependentSize().toSize(), row.picture);
        break;
    }
    case Kind::Image:
        QCOMPARE(static_cast<QLabel *>(widget)->pixmap().deviceIndependentSize().toSize(), row.picture);
        break;
    case Kind::Timer:
        break;
    }
}

// Each control starts with its text, visibility, enabled state and tip.
void WindowTest::controlStartsAsDefined()
{
    QFETCH(QString, name);
    QFETCH(int, load);
    const Control &row = controlNamed(name);
    const Game &game = loaded(load);
    if (row.kind == Kind::Timer) {
        QCOMPARE(game.tavola.findChild<QTimer *>(name)->interval(), 1000);
        return;
    }
    QWidget *widget = game.control(name);
    QVERIFY(widget);

    // Each load is seen once, at its own start-up.
    QCOMPARE(game.services.loads.size(), load == FirstLoad ? 1 : 2);
    const Seen created = game.services.loads.last().value(name);
    if (row.text)
        QCOMPARE(created.text, QString::fromUtf16(row.text));
    QCOMPARE(created.enabled, !(row.traits & Disabled));
    QCOMPARE(created.hidden, bool(row.traits & Hidden));
    QCOMPARE(widget->isHidden(), bool(row.traits & Hidden));
    QCOMPARE(widget->isVisible(), !(row.traits & Hidden));
    QCOMPARE(widget->toolTip(), row.toolTip ? QString::fromUtf16(row.toolTip) : QString());

    // Enter belongs to the answer box until it is scored, then to cmdNext
    // (tst_playing). The window holds that rule: no button has Qt's default
    // flag, which outside a dialogue goes with the focus.
    if (auto *button = qobject_cast<QPushButton *>(widget)) {
        QVERIFY(loaded(load).activate());
        QVERIFY(!button->isDefault());
    }
    if (auto *box = qobject_cast<QLineEdit *>(widget)) {
        QCOMPARE(box->isReadOnly(), name == u"Text2");
        if (name == u"txtAnswer")
            QCOMPARE(box->maxLength(), 5);
    }
}

// A load titles the window, sizes its client area and starts the clock.
void WindowTest::loadGivesLongCaptionClientAreaAndRunningClock()
{
    QFETCH(int, load);
    const Game &game = loaded(load);
    QCOMPARE(game.tavola.windowTitle(), QStringLiteral("Valtrino Settembre 2022"));
    QCOMPARE(game.tavola.centralWidget()->size(), QSize(632, 434));
    QCOMPARE(game.tavola.centralWidget()->objectName(), QStringLiteral("Tavola"));
    QVERIFY(qobject_cast<Surface *>(game.tavola.centralWidget()));
    const auto timers = game.tavola.findChildren<QTimer *>(QStringLiteral("Timer1"));
    QCOMPARE(timers.size(), 1);
    QVERIFY(timers.first()->isActive());
    QCOMPARE(m_clockAtLoad[load], QStringLiteral("00:15:00"));
}

void WindowTest::menuHoldsDefinedItemsInOrder_data()
{
    QTest::addColumn<QString>("menu");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("load");
    for (const int load : {FirstLoad, ReloadByCode, ReloadByNext}) {
        QTest::addRow("bar %s", loadNames[load])
            << QString() << QStringList{"ww", "inf", "Ciao", "Licenza", "Next"} << load;
        QTest::addRow("inf %s", loadNames[load]) << "inf" << QStringList{"gio", "alto", "in"} << load;
        QTest::addRow("Ciao %s", loadNames[load]) << "Ciao" << QStringList{"via", "mail"} << load;
        QTest::addRow("Licenza %s", loadNames[load]) << "Licenza" << QStringList{"software"} << load;
    }
}

// The bar and each drop-down hold their items left to right, top to bottom.
void WindowTest::menuHoldsDefinedItemsInOrder()
{
    QFETCH(QString, menu);
    QFETCH(QStringList, items);
    QFETCH(int, load);
    const Game &game = loaded(load);
    QWidget *holder = game.bar();
    if (!menu.isEmpty())
        holder = game.bar()->findChild<QMenu *>(menu);
    QVERIFY(holder);
    QStringList names;
    for (const QAction *action : holder->actions())
        names << action->objectName();
    QCOMPARE(names, items);
}

void WindowTest::menuItemIsAsDefined_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("onBar");
    QTest::addColumn<bool>("dropDown");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption"); // a pattern
    QTest::addColumn<int>("load");
    const auto exactly = [](const char16_t *text) { return QRegularExpression::escape(QString::fromUtf16(text)); };
    const QString any = QStringLiteral(".*");
    for (const int load : {FirstLoad, ReloadByCode, ReloadByNext}) {
        const auto row = [&](const char *name) -> QTestData & { return QTest::addRow("%s %s", name, loadNames[load]) << name; };
        row("ww") << true << false << -1 << R"((https?://)?[\w-]+(\.[\w-]+)+(/\S*)?)" << load;
        row("inf") << true << true << 1 << exactly(u"Help gioco") << load;
        row("gio") << false << false << 2 << exactly(u"Gioco a tempo: hai 15 minuti a disposizione.") << load;
        row("alto") << false << false << -1 << exactly(u"Il programma registra il tuo punteggio più alto.") << load;
        row("in") << false << false << -1 << exactly(u"In bocca al lupo ") << load;
        row("Ciao") << true << true << 1 << any << load;
        row("via") << false << false << -1 << any << load;
        row("mail") << false << false << -1 << any << load;
        row("Licenza") << true << true << -1 << QString() << load;
        row("software") << false << false << -1 << QString() << load;
        row("Next") << true << false << -1 << exactly(u"Nuovo gioco") << load;
    }
}

// Each item has its caption and index, is usable, and fits on a 632 px bar.
void WindowTest::menuItemIsAsDefined()
{
    QFETCH(QString, name);
    QFETCH(bool, onBar);
    QFETCH(bool, dropDown);
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(int, load);
    const Game &game = loaded(load);

    const auto found = game.bar()->findChildren<QAction *>(name);
    QCOMPARE(found.size(), 1);
    QAction *action = found.first();
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(caption)).match(action->text()).hasMatch(),
             qPrintable(action->text()));
    QCOMPARE(action->property("index").isValid(), index >= 0);
    if (index >= 0)
        QCOMPARE(action->property("index").toInt(), index);
    QVERIFY(action->isEnabled());
    QVERIFY(action->isVisible());
    QVERIFY(!action->isSeparator());
    QCOMPARE(action->menu() != nullptr, dropDown);
    if (dropDown)
        QCOMPARE(action->menu()->objectName(), name);

    QCOMPARE(game.bar()->actions().contains(action), onBar);
    if (onBar) {
        const QRect place = game.bar()->actionGeometry(action);
        QVERIFY(place.isValid());
        QVERIFY2(place.x() + place.width() <= 632, qPrintable(QString::number(place.x() + place.width())));
    }
}

void WindowTest::choosingMenuItemDoesNothingUnlessItIsNext_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("click"); // on the bar, rather than triggered
    for (const char *name : {"inf", "gio", "alto", "in", "Ciao", "via", "mail", "Licenza", "software"})
        QTest::newRow(name) << QString::fromLatin1(name) << false;
    QTest::newRow("ww clicked") << "ww" << true;
    // Next asks first; with No nothing else happens, which proves the click arrives.
    QTest::newRow("Next clicked, answered No") << "Next" << true;
}

// No item but Nuovo gioco has a handler: choosing one shows nothing, changes nothing.
void WindowTest::choosingMenuItemDoesNothingUnlessItIsNext()
{
    QFETCH(QString, name);
    QFETCH(bool, click);
    Game game;
    const QStringList before = game.state();
    const QStringList shown = game.services.shown;

    QAction *action = game.item(name);
    QVERIFY(action);
    if (click)
        QTest::mouseClick(game.bar(), Qt::LeftButton, {}, game.bar()->actionGeometry(action).center());
    else
        action->trigger();
    QCoreApplication::processEvents();

    if (name == u"Next") {
        QCOMPARE(game.services.shown.size(), shown.size() + 1);
        QVERIFY(game.services.shown.last().startsWith(u"yesno:"));
    } else {
        QCOMPARE(game.services.shown, shown);
    }
    QCOMPARE(game.state(), before);
}

// Nuovo gioco unloads the window it is part of: that must wait until its handler is done.
void WindowTest::nextItemReloadsWindowSafelyFromItsOwnHandler()
{
    Game game;
    QPointer<QWidget> oldSurface = game.tavola.centralWidget();
    QPointer<QMenuBar> oldBar = game.bar();
    QPointer<QAction> oldNext = game.item(QStringLiteral("Next"));
    QPointer<QTimer> oldTimer = game.tavola.findChild<QTimer *>(QStringLiteral("Timer1"));

    game.services.answers << runtime::Services::Yes;
    game.services.texts << QStringLiteral("Carla") << QStringLiteral("30");
    QTest::mouseClick(oldBar, Qt::LeftButton, {}, oldBar->actionGeometry(oldNext).center());
    deleteWhatWasUnloaded();
    QTest::qWait(10);

    QVERIFY(!oldSurface && !oldBar && !oldNext && !oldTimer);
    QVERIFY(game.tavola.isLoaded());
    QVERIFY(game.tavola.isVisible());
    QCOMPARE(game.tavola.findChildren<QMenuBar *>().size(), 1);
    QCOMPARE(game.tavola.findChildren<QAction *>(QStringLiteral("Next")).size(), 1);
    QCOMPARE(game.control<CaptionLabel>(QStringLiteral("lblnome1"))->caption(), QStringLiteral("Carla"));
    QVERIFY(!game.control<QLineEdit>(QStringLiteral("Text2"))->text().isEmpty());

    // The new item works as the old one did.
    const qsizetype shown = game.services.shown.size();
    game.item(QStringLiteral("Next"))->trigger();
    deleteWhatWasUnloaded();
    QCOMPARE(game.services.shown.size(), shown + 1);
    QVERIFY(game.tavola.isLoaded());
}

void WindowTest::clickGoesToTopmostControlUnderPointer_data()
{
    QTest::addColumn<QPoint>("point"); // in the central widget
    QTest::addColumn<bool>("nextEnabled");
    QTest::addColumn<int>("command1Clicks");
    QTest::addColumn<int>("nextClicks");
    const QRect command1 = pixels(controlNamed(QStringLiteral("Command1")));
    const QRect next = pixels(controlNamed(QStringLiteral("cmdNext")));
    const QPoint beside((next.left() + command1.left()) / 2, next.center().y());
    QVERIFY(next.contains(beside) && !command1.contains(beside));
    QTest::newRow("inside Command1, cmdNext enabled") << command1.center() << true << 1 << 0;
    QTest::newRow("inside Command1, cmdNext disabled") << command1.center() << false << 1 << 0;
    QTest::newRow("beside Command1 on cmdNext, enabled") << beside << true << 0 << 1;
    QTest::newRow("beside Command1 on cmdNext, disabled") << beside << false << 0 << 0;
}

// Command1 lies over cmdNext, so a click inside it is Command1's alone.
void WindowTest::clickGoesToTopmostControlUnderPointer()
{
    QFETCH(QPoint, point);
    QFETCH(bool, nextEnabled);
    QFETCH(int, command1Clicks);
    QFETCH(int, nextClicks);
    Game game;
    QVERIFY(game.activate());
    if (nextEnabled)
        game.answer(QStringLiteral("1"));
    auto *next = game.control<QPushButton>(QStringLiteral("cmdNext"));
    QCOMPARE(next->isEnabled(), nextEnabled);
    QSignalSpy command1Spy(game.control<QPushButton>(QStringLiteral("Command1")), &QPushButton::clicked);
    QSignalSpy nextSpy(next, &QPushButton::clicked);

    // Through the window, so that Qt picks the control under the point.
    const QPoint inWindow = game.tavola.centralWidget()->mapTo(&game.tavola, point);
    QTest::mouseClick(game.tavola.windowHandle(), Qt::LeftButton, {}, inWindow);
    QCOMPARE(command1Spy.count(), command1Clicks);
    QCOMPARE(nextSpy.count(), nextClicks);
}

void WindowTest::altLetterPressesOnlyAnEnabledButton_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("nextEnabled");
    QTest::addColumn<int>("nextClicks");
    QTest::addColumn<int>("exitClicks");
    QTest::newRow("Alt+N, cmdNext disabled") << int(Qt::Key_N) << false << 0 << 0;
    QTest::newRow("Alt+N, cmdNext enabled") << int(Qt::Key_N) << true << 1 << 0;
    QTest::newRow("Alt+X, cmdNext disabled") << int(Qt::Key_X) << false << 0 << 1;
    QTest::newRow("Alt+X, cmdNext enabled") << int(Qt::Key_X) << true << 0 << 1;
}

// Underlined letters press only enabled buttons and never type into the answer box.
void WindowTest::altLetterPressesOnlyAnEnabledButton()
{
    QFETCH(int, key);
    QFETCH(bool, nextEnabled);
    QFETCH(int, nextClicks);
    QFETCH(int, exitClicks);
    Game game;
    QVERIFY(game.activate());
    if (nextEnabled)
        game.answer(QStringLiteral("1"));
    auto *next = game.control<QPushButton>(QStringLiteral("cmdNext"));
    auto *exit = game.control<QPushButton>(QStringLiteral("cmdExit1"));
    QCOMPARE(next->isEnabled(), nextEnabled);
    // The game end would end the process; only the press itself matters here.
    QObject::disconnect(exit, nullptr, &game.tavola, nullptr);
    QSignalSpy nextSpy(next, &QPushButton::clicked);
    QSignalSpy exitSpy(exit, &QPushButton::clicked);
    const QStringList before = game.state();

    QWidget *focus = QApplication::focusWidget();
    QVERIFY(focus);
    QTest::keyClick(focus, Qt::Key(key), Qt::AltModifier);
    // A shortcut holds its button down a moment and clicks as it lets go.
    QTRY_VERIFY(!next->isDown() && !exit->isDown());
    QCOMPARE(nextSpy.count(), nextClicks);
    QCOMPARE(exitSpy.count(), exitClicks);
    if (nextClicks == 0)
        QCOMPARE(game.state(), before);
}

void WindowTest::tabMovesFocusInDefinedOrder_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<bool>("nextEnabled");
    QTest::addColumn<bool>("backwards");
    QTest::addColumn<QString>("to");
    QTest::newRow("cmdExit1 skips disabled cmdNext") << "cmdExit1" << false << false << "txtAnswer";
    QTest::newRow("cmdExit1 to enabled cmdNext") << "cmdExit1" << true << false << "cmdNext";
    QTest::newRow("cmdNext to txtAnswer") << "cmdNext" << true << false << "txtAnswer";
    QTest::newRow("txtAnswer to Command1") << "txtAnswer" << false << false << "Command1";
    QTest::newRow("Command1 to Text2") << "Command1" << false << false << "Text2";
    QTest::newRow("Text2 skips hidden Picture1") << "Text2" << false << false << "Picture2";
    QTest::newRow("Picture2 round to cmdExit1") << "Picture2" << false << false << "cmdExit1";
    QTest::newRow("back from txtAnswer skips disabled cmdNext") << "txtAnswer" << false << true << "cmdExit1";
    QTest::newRow("back from cmdExit1 round to Picture2") << "cmdExit1" << false << true << "Picture2";
}

// Tab follows the tab indexes, passing over disabled and hidden controls.
void WindowTest::tabMovesFocusInDefinedOrder()
{
    QFETCH(QString, from);
    QFETCH(bool, nextEnabled);
    QFETCH(bool, backwards);
    QFETCH(QString, to);
    Game game;
    QVERIFY(game.activate());
    if (nextEnabled)
        game.answer(QStringLiteral("1"));
    QWidget *start = game.control(from);
    start->setFocus(Qt::OtherFocusReason);
    QCOMPARE(QApplication::focusWidget(), start);

    QTest::keyClick(start, backwards ? Qt::Key_Backtab : Qt::Key_Tab,
                    backwards ? Qt::ShiftModifier : Qt::NoModifier);
    QVERIFY(QApplication::focusWidget());
    QCOMPARE(QApplication::focusWidget()->objectName(), to);
}

void WindowTest::answerBoxTakesAtMostFiveTypedCharacters_data()
{
    QTest::addColumn<QString>("typed"); // \b is Backspace
    QTest::addColumn<QString>("kept");
    QTest::newRow("four") << "1234" << "1234";
    QTest::newRow("five") << "12345" << "12345";
    QTest::newRow("six") << "123456" << "12345";
    QTest::newRow("eight") << "12345678" << "12345";
    QTest::newRow("room again after Backspace") << "12345\b67" << "12346";
    // a and lower case are replaced on the way in; the limit holds for them too
    QTest::newRow("six replaced letters") << "abcdef" << "BBCDE";
}

// The answer box refuses typing beyond five characters.
void WindowTest::answerBoxTakesAtMostFiveTypedCharacters()
{
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    Game game;
    auto *box = game.control<QLineEdit>(QStringLiteral("txtAnswer"));
    QVERIFY(box->text().isEmpty());
    QTest::keyClicks(box, typed);
    QCOMPARE(box->text(), kept);
}

void WindowTest::controlWithGameRoleHasAccessibleName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("exposed"); // the accessible name, %1 for what the control shows; empty: any
    QTest::addColumn<QString>("described"); // the accessible description; empty: any
    for (const char *name : {"cmdExit1", "Command1", "Picture2", "Picture1"})
        QTest::newRow(name) << QString::fromLatin1(name) << QString() << QString();
    // No verdict yet: the button's caption alone.
    QTest::newRow("cmdNext") << "cmdNext" << "Nuovo calcolo" << QString();
    QTest::newRow("Text2") << "Text2" << "Numero romano" << QString();
    // The numeral asked (25), letter by letter, heard with the answer box.
    QTest::newRow("txtAnswer") << "txtAnswer" << "Numero romano X X V. Risposta"
                               << "Inserisci il numero e  premi il tasto  Invio";
    // Labels that show what changes say what it is, and say so when empty.
    QTest::newRow("lblScore") << "lblScore" << "Risposte esatte %1" << QString();
    QTest::newRow("lblScore1") << "lblScore1" << "Risposte errate %1" << QString();
    QTest::newRow("lblScore2") << "lblScore2" << "Risposte totali %1" << QString();
    QTest::newRow("lblconto") << "lblconto" << "Tempo restante %1" << QString();
    QTest::newRow("lblnome1 empty") << "lblnome1" << "Nome dello sfidante vuoto" << QString();
    QTest::newRow("lblpunti empty") << "lblpunti" << "Punteggio del record vuoto" << QString();
    QTest::newRow("lblnome empty") << "lblnome" << "Detentore del record vuoto" << QString();
    QTest::newRow("lblMessage empty") << "lblMessage" << "Esito della risposta vuoto" << QString();
    // Hidden, it holds the answer: nothing of it may be heard.
    QTest::newRow("lblNum1") << "lblNum1" << "Valore del numero" << QString();
}

// Screen readers can name every control that takes focus or shows the game;
// no control gives away the number asked unless it shows it, and none gives
// the numeral whole, which a speech synthesizer may read as the number.
void WindowTest::controlWithGameRoleHasAccessibleName()
{
    QFETCH(QString, name);
    QFETCH(QString, exposed);
    QFETCH(QString, described);
    Game &game = loaded(FirstLoad);
    QVERIFY(game.activate());
    QWidget *widget = game.control(name);
    QVERIFY(widget);
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(widget);
    QVERIFY(accessible);
    QVERIFY(!accessible->text(QAccessible::Name).trimmed().isEmpty());
    if (!exposed.isEmpty())
        QCOMPARE(accessible->text(QAccessible::Name), exposed.contains(u"%1") ? exposed.arg(textOf(widget)) : exposed);
    if (!described.isEmpty()) {
        QCOMPARE(accessible->text(QAccessible::Description), described);
        QCOMPARE(QApplication::focusWidget(), widget); // spoken as the focus comes there
    }

    QStringList heard;
    for (const QAccessible::Text text : {QAccessible::Name, QAccessible::Description, QAccessible::Value,
                                         QAccessible::Help, QAccessible::Accelerator})
        heard << accessible->text(text);
    if (QAccessibleTextInterface *content = accessible->textInterface())
        heard << content->text(0, content->characterCount());
    const QRegularExpression asked(QStringLiteral("\\b%1\\b")
                                       .arg(QRegularExpression::escape(game.tavola.state().expectedAnswer)));
    QVERIFY(asked.isValid());
    const bool shown = widget->isVisible() && textOf(widget).contains(asked);
    if (!shown)
        QVERIFY2(!heard.join(u'|').contains(asked), qPrintable(heard.join(u'|')));
    const QString numeral = game.tavola.state().questionRoman;
    QCOMPARE(numeral, QStringLiteral("XXV"));
    QVERIFY2(!heard.join(u'|').contains(numeral), qPrintable(heard.join(u'|')));
}

void WindowTest::pointerIsTheDefinedPicture_data()
{
    QTest::addColumn<QString>("name"); // empty: the central widget
    QTest::addColumn<bool>("iconPointer");
    QTest::newRow("window") << QString() << false;
    QTest::newRow("cmdNext") << "cmdNext" << true;
    QTest::newRow("lblMessage") << "lblMessage" << true;
}

// The window has its own pictured pointer; cmdNext and lblMessage the icon pointer.
void WindowTest::pointerIsTheDefinedPicture()
{
    QFETCH(QString, name);
    QFETCH(bool, iconPointer);
    const Game &game = loaded(FirstLoad);
    QWidget *widget = name.isEmpty() ? game.tavola.centralWidget() : game.control(name);
    QVERIFY(widget);
    const QCursor cursor = widget->cursor();
    QCOMPARE(cursor.shape(), Qt::BitmapCursor);
    QVERIFY(!cursor.pixmap().isNull());

    const auto image = [](const QPixmap &pixmap) {
        return pixmap.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    };
    const QImage shown = image(cursor.pixmap());
    const QImage windowPointer = image(QPixmap(pictures::windowPointer()));
    QCOMPARE(windowPointer.size(), QSize(48, 48));
    if (iconPointer) {
        QVERIFY(shown != windowPointer);
        QCOMPARE(shown, image(pictures::iconPointer().pixmap()));
    } else {
        QCOMPARE(shown, windowPointer);
        QCOMPARE(cursor.hotSpot(), pictures::pointerHotSpot());
    }
}

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
