// The window's definition: every control and menu item with its initial
// settings, as tables, and the code that builds them.

#include "Controls.h"
#include "IconPointer.h"
#include "Pictures.h"
#include "Tavola.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPointer>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>

#include <algorithm>
#include <array>
#include <map>
#include <string>
#include <vector>

namespace {

enum class Kind { TextBox, Timer, Button, GraphicalButton, PictureBox, Label, Image };

enum Setting : unsigned {
    Transparent = 1 << 0,
    Opaque = 1 << 1,
    Border = 1 << 2,
    Centred = 1 << 3,
    AutoSize = 1 << 4,
    Hidden = 1 << 5,
    Disabled = 1 << 6,
    IconPointer = 1 << 7,
    NoBorder = 1 << 8,
    ReadOnly = 1 << 9,
    // A label's accessible name is then more than its fixed subject.
    NamedWithCaption = 1 << 10,
    NamedByCaption = 1 << 11,
    // While enabled, pressed by Enter wherever the focus is but on a button.
    DefaultButton = 1 << 12,
};

// Pixel size at 96 dpi of a size in points.
constexpr int px(double points)
{
    return int(points * 96.0 / 72.0 + 0.5);
}

struct Face
{
    const char *family = nullptr; // nullptr: the toolkit's own font
    int pixelSize = 0;
    QFont::Weight weight = QFont::Normal;
    bool italic = false;
};

// Debian's metric clones of the classic Windows faces, and a heavy sans.
constexpr const char *ArialNarrow = "Liberation Sans Narrow";
constexpr const char *TimesNewRoman = "Liberation Serif";
constexpr const char *MsSansSerif = "Liberation Sans";
constexpr const char *Arial = "Liberation Sans";
constexpr const char *ArialBlack = "Lato";

constexpr QRgb System = 0; // no colour of its own: the system's

struct ControlDefinition
{
    const char *name;
    Kind kind;
    QRect twips;
    int tabIndex;
    const char16_t *text;
    Face font;
    QRgb textColour;
    QRgb backColour;
    unsigned settings;
    const char16_t *toolTip;
    const char16_t *accessibleName;
    int maxLength; // 0: the toolkit's own
};

constexpr QRect twips(int left, int top, int width, int height)
{
    return QRect(left, top, width, height);
}

const std::array<ControlDefinition, 28> controls = {{
    {"Text2", Kind::TextBox, twips(120, 360, 6735, 1275), 15, u"II", {ArialNarrow, px(48), QFont::Bold},
     System, qRgb(0xFF, 0x80, 0xFF), ReadOnly, nullptr, u"Numero romano", 0},
    {"Timer1", Kind::Timer, {}, -1, nullptr, {}, System, System, 0, nullptr, nullptr, 0},
    {"txtAnswer", Kind::TextBox, twips(6960, 360, 2415, 1290), 8, u"2", {ArialNarrow, px(48), QFont::Bold},
     System, qRgb(0xFF, 0x80, 0xFF), 0, u"Inserisci il numero e  premi il tasto  Invio", u"Risposta", 5},
    {"cmdNext", Kind::GraphicalButton, twips(3480, 4920, 1815, 1095), 2, u"&Nuovo calcolo",
     {MsSansSerif, px(8.25), QFont::Bold}, System, qRgb(0x00, 0xC0, 0xC0), Disabled | IconPointer | DefaultButton,
     u"Go", u"Nuovo calcolo", 0},
    {"cmdExit1", Kind::GraphicalButton, twips(6600, 4920, 1815, 1095), 0, u"E&xit",
     {MsSansSerif, px(8.25), QFont::Bold}, System, qRgb(0xFF, 0x80, 0x00), 0,
     u"Ti prego resta ancora, forse riuscirai a fare il record", u"Esci dal gioco", 0},
    // The toolkit's own font cuts "Command1" off at both ends; the other
    // buttons' face, a size smaller and not bold, shows it whole.
    {"Command1", Kind::Button, twips(4080, 5040, 855, 615), 11, u"Command1", {MsSansSerif, px(7.5)}, System,
     System, 0, nullptr, u"Pulsante senza funzione", 0},
    {"Picture2", Kind::PictureBox, twips(1920, 1680, 1140, 1335), 24, nullptr, {}, System, System, Border,
     nullptr, u"Ritratto in marmo", 0},
    {"Picture1", Kind::PictureBox, twips(2160, 2040, 4800, 3000), 23, nullptr, {}, System, System,
     NoBorder | AutoSize | Hidden, nullptr, u"Lastra di marmo", 0},
    {"Label5", Kind::Label, twips(3240, 0, 2775, 255), 25, u"ALEA   JACTA   EST", {TimesNewRoman, px(12), QFont::Bold},
     qRgb(0xFF, 0x00, 0x00), System, Transparent, nullptr, nullptr, 0},
    {"Label1", Kind::Label, twips(3240, 3120, 2520, 495), 9, u"Risposte errate", {MsSansSerif, px(18)},
     qRgb(0xFF, 0x00, 0x00), System, Transparent | Border | AutoSize, nullptr, nullptr, 0},
    {"Label4", Kind::Label, twips(120, 0, 2535, 375), 22, u"Numero romano ", {TimesNewRoman, px(12), QFont::Bold},
     qRgb(0xFF, 0xFF, 0xFF), System, Transparent, nullptr, nullptr, 0},
    {"Label2", Kind::Label, twips(6960, 0, 3975, 255), 21, u"Corrisponde al numero",
     {TimesNewRoman, px(12), QFont::Bold}, qRgb(0xFF, 0xFF, 0xFF), System, Transparent, nullptr, nullptr, 0},
    {"lblconto", Kind::Label, twips(240, 2400, 1575, 495), 20, u"00.00.00", {ArialBlack, px(12), QFont::Black},
     qRgb(0xFF, 0xFF, 0x00), System, Transparent | Border | NamedWithCaption, nullptr, u"Tempo restante", 0},
    {"Label11", Kind::Label, twips(120, 2040, 1815, 375), 19, u"Tempo restante", {MsSansSerif, px(9.75), QFont::Bold},
     qRgb(0xFF, 0x00, 0x00), System, Transparent, nullptr, nullptr, 0},
    {"lblpunti", Kind::Label, twips(7560, 6240, 195, 435), 18, u"0", {MsSansSerif, px(18)},
     qRgb(0xC0, 0x00, 0xC0), System, Transparent | AutoSize | NamedWithCaption, nullptr, u"Punteggio del record", 0},
    {"Label13", Kind::Label, twips(6000, 6240, 1455, 435), 17, u"con punti", {MsSansSerif, px(18)},
     qRgb(0x00, 0xFF, 0x00), System, Transparent | AutoSize, nullptr, nullptr, 0},
    {"lblnome", Kind::Label, twips(2520, 6240, 990, 435), 16, u"nome", {MsSansSerif, px(18), QFont::Bold},
     qRgb(0x00, 0x00, 0xFF), System, Transparent | AutoSize | NamedWithCaption, nullptr, u"Detentore del record", 0},
    {"Label12", Kind::Label, twips(120, 6240, 2295, 375), 14, u"Il record  è di ", {MsSansSerif, px(18)},
     qRgb(0x00, 0xFF, 0x00), System, Transparent, nullptr, nullptr, 0},
    {"lblnome1", Kind::Label, twips(240, 5640, 165, 420), 13, u"", {MsSansSerif, px(13.5), QFont::Bold},
     qRgb(0x00, 0xFF, 0xFF), System, Transparent | Border | AutoSize | NamedWithCaption,
     nullptr, u"Nome dello sfidante", 0},
    {"Label14", Kind::Label, twips(240, 5160, 1215, 420), 12, u"Sfidante", {MsSansSerif, px(13.5), QFont::Bold},
     qRgb(0x00, 0xFF, 0xFF), System, Transparent | Border | Centred | AutoSize, nullptr, nullptr, 0},
    {"Label3", Kind::Label, twips(6360, 3120, 2340, 495), 10, u"Risposte totali", {MsSansSerif, px(18)},
     qRgb(0x00, 0x00, 0xFF), System, Transparent | Border | AutoSize, nullptr, nullptr, 0},
    {"lblScore2", Kind::Label, twips(7200, 3840, 555, 885), 7, u"0", {TimesNewRoman, px(36), QFont::Bold},
     qRgb(0x00, 0x00, 0xFF), System, Transparent | Border | Centred | AutoSize | NamedWithCaption,
     nullptr, u"Risposte totali", 0},
    {"lblScore1", Kind::Label, twips(4080, 3840, 540, 885), 3, u"0", {TimesNewRoman, px(36), QFont::Bold},
     qRgb(0xFF, 0x00, 0x00), System, Transparent | Border | Centred | AutoSize | NamedWithCaption,
     nullptr, u"Risposte errate", 0},
    {"lblNum1", Kind::Label, twips(1080, 4920, 1545, 945), 5, u"", {Arial, px(48), QFont::Bold},
     System, qRgb(0xFF, 0x80, 0xFF), Opaque | Border | Centred | AutoSize | Hidden, nullptr, u"Valore del numero", 0},
    {"lblScore", Kind::Label, twips(1080, 3840, 555, 885), 4, u"0", {TimesNewRoman, px(36), QFont::Bold},
     System, qRgb(0xFF, 0xFF, 0x00), Transparent | Border | Centred | AutoSize | NamedWithCaption,
     u"Questo è il tuo punteggio. Forza con il  record", u"Risposte esatte", 0},
    {"lblMessage", Kind::Label, twips(3120, 2040, 6615, 615), 1, u"", {MsSansSerif, px(24), QFont::Bold, true},
     qRgb(0xFF, 0x00, 0x00), qRgb(0x00, 0xFF, 0xFF), Transparent | Centred | IconPointer | NamedByCaption, nullptr,
     u"Esito della risposta", 0},
    {"Label6", Kind::Label, twips(240, 3120, 2565, 495), 6, u"Risposte esatte", {MsSansSerif, px(18)},
     qRgb(0x00, 0xC0, 0x00), qRgb(0xE0, 0xE0, 0xE0), Transparent | Border | Centred | AutoSize, nullptr, nullptr, 0},
    {"Image1", Kind::Image, twips(480, 1800, 480, 480), -1, nullptr, {}, System, System, 0,
     u"Clicca sotto di me per impostare il Timer", nullptr, 0},
}};

struct MenuDefinition
{
    const char *name;
    const char *parent; // nullptr: an entry of the menu bar
    int index;          // -1: none
    const char16_t *caption;
    bool opensMenu;
};

const std::array<MenuDefinition, 11> menus = {{
    {"ww", nullptr, -1, u"www.valtrino.example", false},
    {"inf", nullptr, 1, u"Help gioco", true},
    {"gio", "inf", 2, u"Gioco a tempo: hai 15 minuti a disposizione.", false},
    {"alto", "inf", -1, u"Il programma registra il tuo punteggio più alto.", false},
    {"in", "inf", -1, u"In bocca al lupo ", false},
    {"Ciao", nullptr, 1, u"Gli autori", true},
    {"via", "Ciao", -1, u"Via dei Numeri Romani 1, Valtrino", false},
    {"mail", "Ciao", -1, u"Suggerimenti? Scrivete a valtrino@example.org", false},
    {"Licenza", nullptr, -1, u"", true},
    {"software", "Licenza", -1, u"", false},
    {"Next", nullptr, -1, u"Nuovo gioco", false},
}};

constexpr int twipsPerPixel = 15;

QRect pixels(const QRect &twips)
{
    return QRect(twips.x() / twipsPerPixel, twips.y() / twipsPerPixel, twips.width() / twipsPerPixel,
                 twips.height() / twipsPerPixel);
}

QString text(const char16_t *literal)
{
    return literal ? QString::fromUtf16(literal) : QString();
}

QFont fontOf(const Face &face, const QFont &inherited)
{
    if (!face.family)
        return inherited;
    QFont font(QString::fromLatin1(face.family));
    font.setPixelSize(face.pixelSize);
    font.setWeight(face.weight);
    font.setItalic(face.italic);
    return font;
}

void setColour(QWidget *widget, QPalette::ColorRole role, QRgb colour)
{
    if (colour == System)
        return;
    QPalette palette = widget->palette();
    palette.setColor(role, QColor::fromRgb(colour));
    widget->setPalette(palette);
}

// The classic two-pixel sunken edge of a text box. Fusion's anti-aliased
// frame, redrawn under every blink of the caret, is large enough in these
// boxes for Qt to share out its fill among threads twice a second.
QStyle *textBoxStyle()
{
    static QPointer<QStyle> style;
    if (!style) {
        style = QStyleFactory::create(QStringLiteral("Windows"));
        if (!style) // a Qt built without it: the program's own style will do
            return QApplication::style();
        style->setParent(qApp);
    }
    return style;
}

QWidget *createControl(const ControlDefinition &definition, QWidget *surface)
{
    QWidget *widget = nullptr;
    switch (definition.kind) {
    case Kind::Timer:
        return nullptr;
    case Kind::TextBox: {
        auto *box = definition.settings & ReadOnly ? static_cast<QLineEdit *>(new NumeralBox(surface))
                                                       : new AnswerBox(surface);
        box->setStyle(textBoxStyle());
        box->setReadOnly(definition.settings & ReadOnly);
        box->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        if (definition.maxLength > 0)
            box->setMaxLength(definition.maxLength);
        box->setText(text(definition.text));
        setColour(box, QPalette::Base, definition.backColour);
        widget = box;
        break;
    }
    case Kind::Button: {
        auto *button = new QPushButton(text(definition.text), surface);
        button->setAutoDefault(true); // Enter presses the focused button
        widget = button;
        break;
    }
    case Kind::GraphicalButton: {
        auto *button = new PictureButton(surface);
        button->setText(text(definition.text));
        button->setAutoDefault(true);
        button->setFaceColour(QColor::fromRgb(definition.backColour));
        widget = button;
        break;
    }
    case Kind::PictureBox: {
        auto *box = new PictureBox(surface);
        box->setBorder(!(definition.settings & NoBorder));
        widget = box;
        break;
    }
    case Kind::Label: {
        auto *label = new CaptionLabel(surface);
        label->setBorder(definition.settings & Border);
        label->setAlignment((definition.settings & Centred ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
        if (definition.settings & Opaque) {
            label->setAutoFillBackground(true);
            setColour(label, QPalette::Window, definition.backColour);
        }
        label->setEmptySize(pixels(definition.twips).size());
        label->setCaption(text(definition.text));
        if (definition.accessibleName) {
            using Naming = CaptionLabel::Naming;
            label->setSubject(text(definition.accessibleName),
                              definition.settings & NamedWithCaption ? Naming::SubjectAndCaption
                                  : definition.settings & NamedByCaption ? Naming::Caption
                                                                         : Naming::Subject);
        }
        widget = label;
        break;
    }
    case Kind::Image: {
        auto *image = new QLabel(surface);
        widget = image;
        break;
    }
    }

    widget->setObjectName(QString::fromLatin1(definition.name));
    widget->setGeometry(pixels(definition.twips));
    widget->setProperty("tabIndex", definition.tabIndex);
    widget->setFont(fontOf(definition.font, widget->font()));
    if (definition.kind == Kind::TextBox)
        setColour(widget, QPalette::Text, definition.textColour);
    else if (definition.kind != Kind::Button && definition.kind != Kind::GraphicalButton)
        setColour(widget, QPalette::WindowText, definition.textColour);
    if (definition.toolTip)
        widget->setToolTip(text(definition.toolTip));
    if (definition.accessibleName && definition.kind != Kind::Label)
        widget->setAccessibleName(text(definition.accessibleName));
    if (definition.kind == Kind::Label || definition.kind == Kind::Image)
        widget->setFocusPolicy(Qt::NoFocus);
    if (definition.settings & Disabled)
        widget->setEnabled(false);
    if (definition.settings & Hidden)
        widget->hide();
    return widget;
}

bool isWindowed(Kind kind)
{
    return kind == Kind::TextBox || kind == Kind::Button || kind == Kind::GraphicalButton
        || kind == Kind::PictureBox;
}

// On a screen of twice the density, the picture drawn at twice the size:
// Qt would otherwise enlarge the small one and blur it.
QPixmap picture(const QString &path)
{
    if (qGuiApp->devicePixelRatio() > 1.0) {
        QPixmap sharp(pictures::doubleSize(path));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2.0);
            return sharp;
        }
    }
    return QPixmap(path);
}

QCursor windowPointer()
{
    const QPoint hotSpot = pictures::pointerHotSpot();
    return QCursor(picture(pictures::windowPointer()), hotSpot.x(), hotSpot.y());
}

} // namespace

void Tavola::createControls()
{
    m_surface = new Surface(this);
    m_surface->setObjectName(QStringLiteral("Tavola"));
    setCentralWidget(m_surface);

    std::vector<std::pair<const ControlDefinition *, QWidget *>> focusable;
    for (const ControlDefinition &definition : controls) {
        QWidget *widget = createControl(definition, m_surface);
        if (widget && isWindowed(definition.kind))
            focusable.emplace_back(&definition, widget);
        if (definition.settings & DefaultButton)
            m_defaultButton = static_cast<QPushButton *>(widget);
    }
    // Windowed controls lie above every label and the image, in table order.
    for (const auto &[definition, widget] : focusable)
        widget->raise();
    std::stable_sort(focusable.begin(), focusable.end(),
                     [](const auto &a, const auto &b) { return a.first->tabIndex < b.first->tabIndex; });
    for (std::size_t i = 1; i < focusable.size(); ++i)
        setTabOrder(focusable[i - 1].second, focusable[i].second);

    const auto control = [this]<typename T>(T *&member, const char *name) {
        member = m_surface->findChild<T *>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
        Q_ASSERT(member);
    };
    control(Text2, "Text2");
    control(txtAnswer, "txtAnswer");
    control(cmdNext, "cmdNext");
    control(cmdExit1, "cmdExit1");
    control(Command1, "Command1");
    control(Picture2, "Picture2");
    control(Picture1, "Picture1");
    control(Label5, "Label5");
    control(Label1, "Label1");
    control(Label4, "Label4");
    control(Label2, "Label2");
    control(lblconto, "lblconto");
    control(Label11, "Label11");
    control(lblpunti, "lblpunti");
    control(Label13, "Label13");
    control(lblnome, "lblnome");
    control(Label12, "Label12");
    control(lblnome1, "lblnome1");
    control(Label14, "Label14");
    control(Label3, "Label3");
    control(lblScore2, "lblScore2");
    control(lblScore1, "lblScore1");
    control(lblNum1, "lblNum1");
    control(lblScore, "lblScore");
    control(lblMessage, "lblMessage");
    control(Label6, "Label6");
    control(Image1, "Image1");

    // The timer is defined running; the start-up switches it off at once.
    Timer1 = new QTimer(m_surface);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(1000);
    Timer1->start();
}

void Tavola::dressControls()
{
    for (const ControlDefinition &definition : controls) {
        if (definition.kind != Kind::Label)
            continue;
        auto *label = m_surface->findChild<CaptionLabel *>(QString::fromLatin1(definition.name),
                                                          Qt::FindDirectChildrenOnly);
        Q_ASSERT(label);
        label->setAutoSize(definition.settings & AutoSize);
    }

    m_surface->setCursor(windowPointer());
    cmdNext->setPictures(picture(pictures::nextNormal()), picture(pictures::nextPressed()),
                         picture(pictures::nextDisabled()));
    const QPixmap exitPicture = picture(pictures::exitButton());
    cmdExit1->setPictures(exitPicture, exitPicture, exitPicture);
    const QCursor iconPointer = pictures::iconPointer();
    cmdNext->setCursor(iconPointer);
    lblMessage->setCursor(iconPointer);
    Picture2->setPicture(picture(pictures::portrait()));
    Picture1->setPicture(picture(pictures::marble()));
    Picture1->fitPicture();
    Image1->setPixmap(picture(pictures::stopwatch()));
}

void Tavola::createMenus()
{
    auto *bar = new QMenuBar(this);
    std::map<std::string, QMenu *> opened;
    for (const MenuDefinition &definition : menus) {
        const QString name = QString::fromLatin1(definition.name);
        QAction *action = nullptr;
        if (definition.opensMenu) {
            QMenu *menu = bar->addMenu(text(definition.caption));
            menu->setObjectName(name);
            opened[definition.name] = menu;
            action = menu->menuAction();
        } else if (definition.parent) {
            action = opened.at(definition.parent)->addAction(text(definition.caption));
        } else {
            action = bar->addAction(text(definition.caption));
        }
        action->setObjectName(name);
        if (definition.index >= 0)
            action->setProperty("index", definition.index);
    }
    setMenuBar(bar);

    ww = bar->findChild<QAction *>(QStringLiteral("ww"));
    inf = opened.at("inf");
    gio = inf->findChild<QAction *>(QStringLiteral("gio"));
    alto = inf->findChild<QAction *>(QStringLiteral("alto"));
    in = inf->findChild<QAction *>(QStringLiteral("in"));
    Ciao = opened.at("Ciao");
    via = Ciao->findChild<QAction *>(QStringLiteral("via"));
    mail = Ciao->findChild<QAction *>(QStringLiteral("mail"));
    Licenza = opened.at("Licenza");
    software = Licenza->findChild<QAction *>(QStringLiteral("software"));
    Next = bar->findChild<QAction *>(QStringLiteral("Next"));
}
