#pragma once

#include "platform/Clock.h"

#include <QElapsedTimer>

namespace sondrel::platform {

class SteadyClock final : public Clock {
public:
    SteadyClock() { m_started.start(); }
    qint64 monotonicMs() const override { return m_started.elapsed(); }
    QDateTime now() const override { return QDateTime::currentDateTime(); }

private:
    QElapsedTimer m_started; // monotonic on Linux
};

} // namespace sondrel::platform
