#pragma once

#include "Services.h"

#include <QPointer>
#include <random>

class QWidget;

namespace runtime {

// The services as the player meets them: Qt dialogues in Italian.
class QtServices : public Services
{
public:
    // Dialogues are parented to the window, so that closing one while the
    // window is hidden (during a new game) is not taken as the last window
    // closing.
    void setDialogParent(QWidget *parent) { m_parent = parent; }

    int ShowMessage(const QString &text, int code = OkOnly, const QString &title = {}) override;
    QString AskText(const QString &prompt) override;
    void Beep() override;
    [[noreturn]] void EndProgram() override;
    void SeedRandom() override;
    float NextRandom(int n = 1) override;

private:
    QPointer<QWidget> m_parent;
    std::mt19937 m_generator{0x5eed};
    float m_last = 0.0f;
};

} // namespace runtime
