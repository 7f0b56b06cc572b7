#pragma once

#include <QObject>

class QSocketNotifier;

namespace sondrel::platform {

// Tells when nobody reads a program's output any more, so that a run piped into `head` ends rather than
// going on for nothing. The broken-pipe signal is ignored from construction on, so writing to a closed pipe
// fails with EPIPE instead of ending the program in the middle of a check.
// - A pipe is watched on the event loop: its write end reports an error once its reader has gone, even while
//   nothing is written.
// - Anything else (a terminal, a file, a socket) is told only by a failed write: see wroteTo.
class ClosedOutputWatch final : public QObject {
    Q_OBJECT
public:
    explicit ClosedOutputWatch(int fd, QObject* parent = nullptr);
    ~ClosedOutputWatch() override;

    // Called after writing to the watched stream: a write that failed because the reader has gone (EPIPE)
    // tells closed. Once told, closed is not emitted again.
    void wroteTo(bool succeeded, int errorNumber);

signals:
    void closed();

private:
    void tell();

    int m_fd;
    QSocketNotifier* m_notifier = nullptr;
    bool m_told = false;
};

} // namespace sondrel::platform
