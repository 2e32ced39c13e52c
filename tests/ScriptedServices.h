#pragma once

#include "Services.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <exception>
#include <functional>
#include <stdexcept>

// Thrown where the real program would end; tests catch it.
struct ProgramEnded : std::exception
{
};

// Services that answer from a script and remember what the player saw.
class ScriptedServices : public runtime::Services
{
public:
    // Answers to the next input dialogues, in order; a null QString stands
    // for Cancel.
    QQueue<QString> texts;
    // Answers to the next Yes/No questions.
    QQueue<int> answers;
    // Numbers for NextRandom, in order; 0.5 once they run out.
    QQueue<float> randoms;

    // Every dialogue in order: "msg:<text>", "ask:<prompt>", "yesno:<title>|<text>".
    QStringList shown;
    // Runs while a message is open, as a tick or a key would.
    std::function<void(const QString &text)> whileShowing;
    int beeps = 0;
    int seeds = 0;
    bool ended = false;

    QStringList messages() const
    {
        QStringList only;
        for (const QString &line : shown) {
            if (line.startsWith(u"msg:"))
                only << line.mid(4);
        }
        return only;
    }

    int ShowMessage(const QString &text, int code = OkOnly, const QString &title = {}) override
    {
        if (code == YesNoQuestionDefaultNo) {
            shown << QStringLiteral("yesno:") + title + u'|' + text;
            if (whileShowing)
                whileShowing(text);
            return answers.isEmpty() ? No : answers.dequeue();
        }
        shown << QStringLiteral("msg:") + text;
        if (whileShowing)
            whileShowing(text);
        return Ok;
    }

    QString AskText(const QString &prompt) override
    {
        shown << QStringLiteral("ask:") + prompt;
        if (texts.isEmpty())
            throw std::logic_error("no scripted answer for: " + prompt.toStdString());
        const QString answer = texts.dequeue();
        return answer.isNull() ? QString() : answer;
    }

    void Beep() override { ++beeps; }

    [[noreturn]] void EndProgram() override
    {
        ended = true;
        throw ProgramEnded();
    }

    void SeedRandom() override { ++seeds; }

    float NextRandom(int n = 1) override
    {
        if (n != 0)
            m_last = randoms.isEmpty() ? 0.5f : randoms.dequeue();
        return m_last;
    }

private:
    float m_last = 0.0f;
};
