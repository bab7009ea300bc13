#pragma once

#include <QObject>

class QSocketNotifier;

namespace velmora::app {

// Turns SIGTERM, SIGINT and SIGHUP (the terminal closed, the session ended) into a signal on
// the main thread, so that a termination request ends the application the ordinary way
// (aboutToQuit, then the backend's own SIGTERM) instead of killing it with its backend left
// running. A signal handler may only write to a pipe; the notifier reads it on the event loop.
// One instance at a time; the default handlers come back when it is destroyed.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject *parent = nullptr);
    ~TerminationSignals() override;

    /// Catches the signals from now on, before the application object and its event loop
    /// exist (while the backend is launched at the very start): what arrives meanwhile waits
    /// for the next instance, which turns it into its signal once the event loop runs. Without
    /// it such a signal would end the process on the spot.
    static void catchEarly();

    // False when the pipe or the handlers could not be set up.
    bool isActive() const { return m_notifier != nullptr; }

signals:
    // A SIGTERM, SIGINT or SIGHUP arrived (signalNumber says which).
    void received(int signalNumber);

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
};

} // namespace velmora::app
