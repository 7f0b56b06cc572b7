#pragma once

#include "store/AlertSettings.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

namespace sondrel::core {

// The ping as the notification decision sees it: failing only after enough failed checks in a row, and
// answering again, when recovery notices are on, only after enough good checks in a row. With the default
// settings it is the run's own PingOk: false from the first failure on, for the rest of the run.
// It also keeps what the alert e-mails tell of an outage: when it began, when the site came back and how the
// last failed check ended.
class AlertPolicy final {
public:
    // One moment on both clocks: monotonic milliseconds for durations, the wall clock for texts.
    struct Moment {
        qint64 ms = 0;
        QDateTime at;
    };

    // Counts one check's echo and returns the ping status as the decision sees it now. statusText is the
    // check's status, kept when it failed.
    bool record(bool failed, const Moment& when, const QString& statusText, const store::AlertSettings& settings);
    void reset() { *this = AlertPolicy{}; }

    bool pingOk() const { return m_pingOk; }
    // The first failed check of the outage under way or last ended; unset before any.
    const Moment& firstFailure() const { return m_firstFailure; }
    // The first good check of the run of good checks that ended the last outage.
    const Moment& answeringSince() const { return m_answeringSince; }
    const QString& lastFailureStatus() const { return m_lastFailureStatus; }

private:
    bool m_pingOk = true;
    int m_failuresInRow = 0;
    int m_successesInRow = 0;
    Moment m_firstFailure;
    Moment m_answeringSince;
    QString m_lastFailureStatus;
};

} // namespace sondrel::core
