#pragma once

#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>

#include <chrono>
#include <functional>

#include "Int16.h"

class QPainter;

// The kinds of control the window is made of, where Qt's own widgets need a
// little help to behave like the game expects.

// A caption painted on the window. With auto-size it keeps its top-left
// corner and takes the size of its text, an empty line counting as one
// blank wide, and an empty caption the size the window's definition gives
// it; without, it wraps at blanks and cuts off what does not fit. Line ends
// in the caption show as line breaks.
class CaptionLabel : public QLabel
{
    Q_OBJECT
public:
    explicit CaptionLabel(QWidget *parent = nullptr);

    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

    void setAutoSize(bool autoSize);
    bool autoSize() const { return m_autoSize; }
    void setEmptySize(const QSize &size) { m_emptySize = size; }
    void setBorder(bool border);

    // How a screen reader names the label: by its subject alone, by the
    // subject followed by the caption, or by the caption alone. A label
    // named after its caption says when it is empty rather than go silent.
    enum class Naming { Subject, SubjectAndCaption, Caption };
    void setSubject(const QString &subject, Naming naming);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fitCaption();
    void nameAfterCaption();

    QString m_caption;
    bool m_autoSize = false;
    QSize m_emptySize;
    QString m_subject;
    Naming m_naming = Naming::Subject;
};

// A Roman numeral letter by letter: a speech synthesizer may read a whole
// numeral as its value, one letter at a time it cannot.
QString spelledOut(const QString &numeral);

// The box that shows the numeral. A screen reader gets its text letter by
// letter, as spelledOut gives it.
class NumeralBox : public QLineEdit
{
    Q_OBJECT
public:
    explicit NumeralBox(QWidget *parent = nullptr);
};

// Enter or Return, not part of an Alt chord, which is a command.
bool isEnterKey(const QKeyEvent *event);

// The answer box: every typed character goes through keyPress before the
// box takes it; keyPress may replace it, or swallow it by setting 0. Enter
// is left to the window while leavesEnter says so.
//
// Its caret stops blinking, and stays shown, once the player has typed
// nothing for a while, as GTK's does: each blink repaints the box, and a
// player may think about a numeral for minutes.
class AnswerBox : public QLineEdit
{
    Q_OBJECT
public:
    explicit AnswerBox(QWidget *parent = nullptr);
    ~AnswerBox() override;

    std::function<void(runtime::Int16 &keyAscii)> keyPress;
    // Asked at each Enter: true while Enter is the window's, not the answer's.
    std::function<bool()> leavesEnter;

    static constexpr std::chrono::milliseconds defaultCaretRestDelay{10000};
    void setCaretRestDelay(std::chrono::milliseconds delay) { m_caretRest.setInterval(delay); }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    // The character the box should take instead, or "" to take nothing.
    QString filtered(const QString &character);

    // Qt's blinking is one setting for the whole program, so the caret
    // rests only while this box has the focus.
    void wakeCaret();
    void restCaret();
    void restoreFlashTime();

    QTimer m_caretRest;
    int m_flashTimeAtRest = -1; // the program's flash time, while the caret rests
};

// A button whose face is its back colour, with a picture centred in the
// upper part and the caption below. Pressed and disabled may have pictures
// of their own.
class PictureButton : public QPushButton
{
    Q_OBJECT
public:
    explicit PictureButton(QWidget *parent = nullptr);

    void setFaceColour(const QColor &colour) { m_face = colour; update(); }
    QColor faceColour() const { return m_face; }
    void setPictures(const QPixmap &normal, const QPixmap &pressed, const QPixmap &disabled);
    QPixmap currentPicture() const;

    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_face;
    QPixmap m_normal;
    QPixmap m_pressed;
    QPixmap m_disabled;
};

// A box showing a picture from its top-left corner at its natural size,
// cut off at the edge. It takes the focus by Tab.
class PictureBox : public QFrame
{
    Q_OBJECT
public:
    explicit PictureBox(QWidget *parent = nullptr);

    void setPicture(const QPixmap &picture);
    QPixmap picture() const { return m_picture; }
    // Without a border and with auto-size the box is exactly the picture.
    void setBorder(bool border);
    void fitPicture();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_picture;
};

// The window's own surface: the button face at first, then a persistent
// background that each question paints anew.
class Surface : public QWidget
{
    Q_OBJECT
public:
    explicit Surface(QWidget *parent = nullptr);

    // 256 horizontal bands from (red, green, 0) at the top to
    // (red, green, 255) at the bottom, across the whole width. They cover
    // the surface as it is now, in device pixels, whatever size it takes
    // later.
    void paintBands(int red, int green);
    // The bands as a picture in device pixels; null before the first.
    QImage background() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void fillBands(QPainter &painter, const QRect &pixels) const;

    // The colours and the size rather than a picture of them: maximised,
    // a picture would be a second copy of the window beside the one that
    // the backing store already keeps.
    int m_red = 0;
    int m_green = 0;
    QSize m_painted; // device pixels; empty before the first bands
    qreal m_ratio = 1;
};
