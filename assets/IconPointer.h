#pragma once

#include <QCursor>

namespace pictures {

// The system's icon pointer, which this platform lacks: a small square
// inside a larger one.
QCursor iconPointer();

} // namespace pictures
