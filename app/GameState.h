#pragma once

#include "Int16.h"

#include <QString>

// What the game keeps between events. It lives as long as the window
// object, so a new game (which reloads the window) does not reset it by
// itself: the start-up and the first question set it afresh.
struct GameState
{
    runtime::Int16 questionValue;
    QString questionRoman;
    QString expectedAnswer;
    QString maxNumber;
    runtime::Int16 rightAnswers;
    runtime::Int16 wrongAnswers;
    runtime::Int16 clockHours;
    runtime::Int16 clockMinutes;
    float clockSeconds = 0.0f; // whole values only
    runtime::Int16 secondsLeft;
    QString windowsDir;
    runtime::Int16 fileNo;
    QString recordLine;
};
