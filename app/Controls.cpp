#include "Controls.h"

#include "Characters.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <qdrawutil.h>

using runtime::Int16;

QString spelledOut(const QString &numeral)
{
    QStringList letters;
    for (const QChar letter : numeral)
        letters << QString(letter);
    return letters.join(u' ');
}

namespace {

// The numeral box as a screen reader sees it: a read-only text whose
// content is the numeral spelled out. Nothing reads the box but the eye.
class NumeralBoxAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit NumeralBoxAccessible(QWidget *box) : QAccessibleWidget(box, QAccessible::EditableText) {}

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TextInterface)
            return static_cast<QAccessibleTextInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.readOnly = true;
        return state;
    }

    using QAccessibleWidget::text;
    QString text(int startOffset, int endOffset) const override
    {
        return spoken().mid(startOffset, endOffset - startOffset);
    }
    int characterCount() const override { return int(spoken().size()); }
    void selection(int, int *startOffset, int *endOffset) const override { *startOffset = *endOffset = 0; }
    int selectionCount() const override { return 0; }
    void addSelection(int, int) override {}
    void removeSelection(int) override {}
    void setSelection(int, int, int) override {}
    int cursorPosition() const override { return 0; }
    void setCursorPosition(int) override {}
    // The letters do not lie where they are painted: every one is given the
    // whole box, and the box's left half is the start of the text.
    QRect characterRect(int) const override { return rect(); }
    int offsetAtPoint(const QPoint &point) const override
    {
        if (!rect().contains(point))
            return -1;
        return point.x() < rect().center().x() ? 0 : characterCount();
    }
    void scrollToSubstring(int, int) override {}
    QString attributes(int offset, int *startOffset, int *endOffset) const override
    {
        *startOffset = *endOffset = offset;
        return QString();
    }

private:
    QString spoken() const { return spelledOut(static_cast<const QLineEdit *>(widget())->text()); }
};

QAccessibleInterface *numeralBoxAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("NumeralBox") && object->isWidgetType())
        return new NumeralBoxAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

NumeralBox::NumeralBox(QWidget *parent) : QLineEdit(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(numeralBoxAccessible);
        return true;
    }();
    Q_UNUSED(factoryInstalled);
}

CaptionLabel::CaptionLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setIndent(0); // Qt would indent a framed label's text by half an x
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void CaptionLabel::setCaption(const QString &caption)
{
    m_caption = caption;
    QString shown = caption;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(u'\r', u'\n');
    setText(shown);
    if (m_autoSize)
        fitCaption();
    nameAfterCaption();
}

void CaptionLabel::setSubject(const QString &subject, Naming naming)
{
    m_subject = subject;
    m_naming = naming;
    setAccessibleName(subject);
    nameAfterCaption();
}

// Named only while shown. Orca keeps the states of a label it first hears
// of while the window is hidden, and Qt reports it showing but never
// visible again: flat review would skip it.
void CaptionLabel::showEvent(QShowEvent *event)
{
    QLabel::showEvent(event);
    nameAfterCaption();
}

void CaptionLabel::nameAfterCaption()
{
    if (m_subject.isEmpty() || m_naming == Naming::Subject || !isVisible())
        return;
    QString value = text();
    value.replace(u'\n', u' ');
    value = value.trimmed();
    if (value.isEmpty())
        setAccessibleName(m_subject + QStringLiteral(" vuoto"));
    else if (m_naming == Naming::Caption)
        setAccessibleName(value);
    else
        setAccessibleName(m_subject + u' ' + value);
}

void CaptionLabel::setAutoSize(bool autoSize)
{
    m_autoSize = autoSize;
    setWordWrap(!autoSize);
    if (autoSize)
        fitCaption();
}

void CaptionLabel::fitCaption()
{
    // Measured in the classic face, which our substitutes do not match:
    // border and one empty line would come out a few pixels smaller.
    if (m_caption.isEmpty() && m_emptySize.isValid()) {
        resize(m_emptySize);
        return;
    }
    const QFontMetrics metrics(font());
    const QStringList lines = text().split(u'\n');
    // An empty line is as wide as a blank: an empty caption keeps a box
    // the player can see, not a sliver of border.
    const int blank = metrics.horizontalAdvance(u' ');
    int width = 0;
    for (const QString &line : lines)
        width = qMax(width, line.isEmpty() ? blank : metrics.horizontalAdvance(line));
    const int border = 2 * frameWidth();
    resize(width + border, int(lines.size()) * metrics.lineSpacing() + border);
}

void CaptionLabel::setBorder(bool border)
{
    setFrameStyle(border ? QFrame::Panel | QFrame::Sunken : QFrame::NoFrame);
    setLineWidth(border ? 2 : 0);
}

AnswerBox::AnswerBox(QWidget *parent) : QLineEdit(parent)
{
    m_caretRest.setSingleShot(true);
    m_caretRest.setInterval(defaultCaretRestDelay);
    connect(&m_caretRest, &QTimer::timeout, this, &AnswerBox::restCaret);
}

AnswerBox::~AnswerBox()
{
    restoreFlashTime();
}

void AnswerBox::wakeCaret()
{
    restoreFlashTime();
    if (hasFocus())
        m_caretRest.start();
}

void AnswerBox::restCaret()
{
    if (!hasFocus() || m_flashTimeAtRest >= 0)
        return;
    m_flashTimeAtRest = QApplication::cursorFlashTime();
    QApplication::setCursorFlashTime(0);
}

void AnswerBox::restoreFlashTime()
{
    if (m_flashTimeAtRest < 0)
        return;
    QApplication::setCursorFlashTime(m_flashTimeAtRest);
    m_flashTimeAtRest = -1;
}

void AnswerBox::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    wakeCaret();
}

void AnswerBox::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    m_caretRest.stop();
    restoreFlashTime();
}

void AnswerBox::mousePressEvent(QMouseEvent *event)
{
    wakeCaret();
    QLineEdit::mousePressEvent(event);
}

QString AnswerBox::filtered(const QString &character)
{
    const Int16 typed = runtime::Asc(character);
    Int16 keyAscii = typed;
    keyPress(keyAscii);
    if (keyAscii == 0)
        return QString();
    return keyAscii == typed ? character : runtime::Chr(keyAscii);
}

bool isEnterKey(const QKeyEvent *event)
{
    return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && !(event->modifiers() & (Qt::AltModifier | Qt::MetaModifier));
}

void AnswerBox::keyPressEvent(QKeyEvent *event)
{
    wakeCaret();
    // An Alt chord is a command, not a character: Alt+N while the button is
    // disabled must not type an N. And once the answer is scored, Enter
    // goes on to the next question rather than score it again.
    if ((event->modifiers() & (Qt::AltModifier | Qt::MetaModifier))
        || (isEnterKey(event) && leavesEnter && leavesEnter())) {
        event->ignore();
        return;
    }
    QString character = event->text();
    if (isEnterKey(event))
        character = QStringLiteral("\r");
    const bool oneCharacter = character.size() == 1
        || (character.size() == 2 && character.at(0).isHighSurrogate());
    if (!keyPress || !oneCharacter) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const QString taken = filtered(character);
    if (taken == character) {
        QLineEdit::keyPressEvent(event); // the box's own handling: Backspace, shortcuts, maxLength
    } else {
        if (!taken.isEmpty())
            insert(taken);
        event->accept();
    }
}

void AnswerBox::inputMethodEvent(QInputMethodEvent *event)
{
    wakeCaret();
    if (!keyPress || event->commitString().isEmpty()) {
        QLineEdit::inputMethodEvent(event);
        return;
    }
    QString committed;
    const QString typed = event->commitString();
    for (qsizetype i = 0; i < typed.size(); ++i) {
        const qsizetype length = typed.at(i).isHighSurrogate() && i + 1 < typed.size() ? 2 : 1;
        committed += filtered(typed.mid(i, length));
        i += length - 1;
    }
    QInputMethodEvent mapped(event->preeditString(), event->attributes());
    mapped.setCommitString(committed, event->replacementStart(), event->replacementLength());
    QLineEdit::inputMethodEvent(&mapped);
    event->accept();
}

PictureButton::PictureButton(QWidget *parent) : QPushButton(parent) {}

void PictureButton::setPictures(const QPixmap &normal, const QPixmap &pressed, const QPixmap &disabled)
{
    m_normal = normal;
    m_pressed = pressed;
    m_disabled = disabled;
    update();
}

QPixmap PictureButton::currentPicture() const
{
    if (!isEnabled() && !m_disabled.isNull())
        return m_disabled;
    if (isDown() && !m_pressed.isNull())
        return m_pressed;
    return m_normal;
}

void PictureButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect face = rect();
    const int shift = isDown() ? 1 : 0;
    painter.fillRect(face, m_face);
    qDrawShadePanel(&painter, face, palette(), isDown(), 2);

    const int captionHeight = fontMetrics().height();
    const QPixmap picture = currentPicture();
    if (!picture.isNull()) {
        const QSize size = picture.deviceIndependentSize().toSize();
        const int upper = face.height() - captionHeight - 6;
        painter.drawPixmap((face.width() - size.width()) / 2 + shift,
                           qMax(4, (upper - size.height()) / 2 + 2) + shift, picture);
    }
    const QRect captionArea(4 + shift, face.height() - captionHeight - 6 + shift,
                            face.width() - 8, captionHeight);
    style()->drawItemText(&painter, captionArea, Qt::AlignHCenter | Qt::TextShowMnemonic,
                          palette(), isEnabled(), text(), QPalette::ButtonText);

    if (hasFocus()) {
        QStyleOptionFocusRect focus;
        focus.initFrom(this);
        focus.rect = face.adjusted(4, 4, -4, -4);
        focus.backgroundColor = m_face;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
}

PictureBox::PictureBox(QWidget *parent) : QFrame(parent)
{
    setFocusPolicy(Qt::TabFocus);
    setBorder(true);
}

void PictureBox::setPicture(const QPixmap &picture)
{
    m_picture = picture;
    update();
}

void PictureBox::setBorder(bool border)
{
    setFrameStyle(border ? QFrame::Panel | QFrame::Sunken : QFrame::NoFrame);
    setLineWidth(border ? 2 : 0);
}

void PictureBox::fitPicture()
{
    const QMargins frame(frameWidth(), frameWidth(), frameWidth(), frameWidth());
    resize(m_picture.deviceIndependentSize().toSize().grownBy(frame));
}

void PictureBox::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setClipRect(contentsRect());
    painter.drawPixmap(contentsRect().topLeft(), m_picture);
}

Surface::Surface(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void Surface::paintBands(int red, int green)
{
    m_red = red;
    m_green = green;
    m_ratio = devicePixelRatioF();
    m_painted = size() * m_ratio;
    update();
}

// Band b runs from row b * H / 256 to row (b + 1) * H / 256, H the height
// painted: only the bands that meet the given pixels are filled.
void Surface::fillBands(QPainter &painter, const QRect &pixels) const
{
    const int height = m_painted.height();
    for (int band = pixels.top() * 256 / height; band < 256; ++band) {
        const int top = band * height / 256;
        if (top > pixels.bottom())
            break;
        const int bottom = (band + 1) * height / 256;
        const QRect strip = QRect(pixels.left(), top, pixels.width(), bottom - top) & pixels;
        if (!strip.isEmpty())
            painter.fillRect(strip, QColor(m_red, m_green, band));
    }
}

QImage Surface::background() const
{
    if (m_painted.isEmpty())
        return QImage();
    QImage image(m_painted, QImage::Format_RGB32);
    {
        QPainter painter(&image);
        fillBands(painter, image.rect());
    }
    image.setDevicePixelRatio(m_ratio);
    return image;
}

void Surface::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    // Each rect of the region on its own: its bounding rect, clipped span by
    // span, would wake Qt's thread pool whenever a tick meets the caret.
    QRegion uncovered = event->region();
    if (!m_painted.isEmpty()) {
        const QRegion painted = uncovered & QRect(QPoint(), (QSizeF(m_painted) / m_ratio).toSize());
        // Drawn in the device pixels they were laid out in, so that the
        // band edges fall on the same rows at any scale.
        painter.setWorldTransform(QTransform::fromScale(1 / m_ratio, 1 / m_ratio));
        const QRect all(QPoint(), m_painted);
        for (const QRect &rect : painted) {
            const QRectF pixels(QPointF(rect.topLeft()) * m_ratio, QSizeF(rect.size()) * m_ratio);
            fillBands(painter, pixels.toAlignedRect() & all);
        }
        painter.resetTransform();
        uncovered -= painted;
    }
    for (const QRect &rect : uncovered)
        painter.fillRect(rect, palette().button());
}
