#pragma once

#include <QString>

namespace runtime {

// What the game asks of the world outside its window: dialogues, the beep,
// random numbers and the end of the process. The game gets one of these;
// tests hand it a scripted one.
class Services
{
public:
    enum MessageCode { OkOnly = 0, YesNoQuestionDefaultNo = 292 };
    enum Answer { Ok = 1, Yes = 6, No = 7 };

    virtual ~Services() = default;

    // Modal message; with an empty title the dialogue bears "Valtrino".
    virtual int ShowMessage(const QString &text, int code = OkOnly, const QString &title = {}) = 0;
    // Modal input with an empty field; Cancel gives "".
    virtual QString AskText(const QString &prompt) = 0;
    virtual void Beep() = 0;
    // Ends the process at once; never returns to the caller.
    [[noreturn]] virtual void EndProgram() = 0;
    virtual void SeedRandom() = 0;
    // Uniform in [0, 1); with 0 it repeats the number returned last.
    virtual float NextRandom(int n = 1) = 0;
};

inline const QString applicationTitle = QStringLiteral("Valtrino");

} // namespace runtime
