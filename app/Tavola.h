#pragma once

#include "GameState.h"
#include "RecordFiles.h"

#include <QMainWindow>
#include <QPointer>

class AnswerBox;
class CaptionLabel;
class PictureBox;
class PictureButton;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QTimer;
class Surface;

namespace runtime {
class Services;
}

// The game's one window. Its controls are rebuilt from the definition at
// every load; the game state outlives them.
class Tavola : public QMainWindow, private GameState
{
    Q_OBJECT
public:
    Tavola(runtime::Services &services, records::Location recordLocation, QWidget *parent = nullptr);
    ~Tavola() override;

    const GameState &state() const { return *this; }

    // Loads the window when it is not loaded (controls, then Form_Load),
    // shows it and activates it, which poses the first question.
    void Show();
    // Destroys the controls and menus; the game state stays.
    void Unload();
    bool isLoaded() const { return m_loaded; }

    // 0 normal, 1 minimised, 2 maximised.
    int WindowState() const;

    QString GetSystemDir() const;
    QString Leggifiletxt(QString &nomefile) const;

public slots:
    void Form_Load();
    void Form_Activate();
    void Form_Resize();
    void cmdNext_Click();
    void txtAnswer_KeyPress(runtime::Int16 &KeyAscii);
    void Timer1_Timer();
    void cmdExit1_Click();
    void Next_Click();

protected:
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    // Pictures, pointers and captions fitted to their text: what only a
    // shown window needs.
    void dressControls();
    void createMenus();
    void connectHandlers();
    void StartCountdown();
    QString clockText() const;
    // The window's default button while it can be pressed, or nullptr.
    QPushButton *enabledDefaultButton() const;

    // Every dialogue of the game goes through these, so that a tick knows
    // when one is open.
    int message(const QString &text, int code = 0, const QString &title = {});
    QString ask(const QString &prompt);

    runtime::Services &m_services;
    const records::Location m_recordLocation;
    bool m_loaded = false;
    bool m_gameEnding = false;
    int m_dialoguesOpen = 0;

    Surface *m_surface = nullptr;
    // Enter that no control takes for itself presses it while it is enabled,
    // wherever the focus is. The window holds it, not Qt's default flag:
    // outside a dialogue that flag leaves a button with the focus.
    QPushButton *m_defaultButton = nullptr;

    // Controls, in the order of the definition.
    QLineEdit *Text2 = nullptr;
    QTimer *Timer1 = nullptr;
    AnswerBox *txtAnswer = nullptr;
    PictureButton *cmdNext = nullptr;
    PictureButton *cmdExit1 = nullptr;
    QPushButton *Command1 = nullptr;
    PictureBox *Picture2 = nullptr;
    PictureBox *Picture1 = nullptr;
    CaptionLabel *Label5 = nullptr;
    CaptionLabel *Label1 = nullptr;
    CaptionLabel *Label4 = nullptr;
    CaptionLabel *Label2 = nullptr;
    CaptionLabel *lblconto = nullptr;
    CaptionLabel *Label11 = nullptr;
    CaptionLabel *lblpunti = nullptr;
    CaptionLabel *Label13 = nullptr;
    CaptionLabel *lblnome = nullptr;
    CaptionLabel *Label12 = nullptr;
    CaptionLabel *lblnome1 = nullptr;
    CaptionLabel *Label14 = nullptr;
    CaptionLabel *Label3 = nullptr;
    CaptionLabel *lblScore2 = nullptr;
    CaptionLabel *lblScore1 = nullptr;
    CaptionLabel *lblNum1 = nullptr;
    CaptionLabel *lblScore = nullptr;
    CaptionLabel *lblMessage = nullptr;
    CaptionLabel *Label6 = nullptr;
    QLabel *Image1 = nullptr;

    // Menu items.
    QAction *ww = nullptr;
    QMenu *inf = nullptr;
    QAction *gio = nullptr;
    QAction *alto = nullptr;
    QAction *in = nullptr;
    QMenu *Ciao = nullptr;
    QAction *via = nullptr;
    QAction *mail = nullptr;
    QMenu *Licenza = nullptr;
    QAction *software = nullptr;
    QAction *Next = nullptr;
};
