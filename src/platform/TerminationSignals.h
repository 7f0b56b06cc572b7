#pragma once

#include <QObject>

class QSocketNotifier;

namespace sondrel::platform {

// SIGINT, SIGTERM and SIGHUP as a Qt signal on the event loop. The system's handler only writes a byte to a pipe;
// the notifier turns it into `received` once the loop comes round. One instance per process.
class TerminationSignals final : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the pipe or the handlers could not be set up.
    bool isActive() const { return m_notifier != nullptr; }

signals:
    void received(int signalNumber);

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace sondrel::platform
