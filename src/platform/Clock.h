#pragma once

#include <QDateTime>
#include <QtGlobal>

namespace sondrel::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Milliseconds on a clock that never jumps (not at midnight, not when the wall clock is set).
    virtual qint64 monotonicMs() const = 0;
    // The local wall-clock date and time, for texts shown to the user.
    virtual QDateTime now() const = 0;
};

} // namespace sondrel::platform
