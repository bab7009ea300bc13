#pragma once

// Looking at a backend that a real velmora started: who started it, which process it is, and
// whether it is gone. For the tests that run the velmora binary itself.

#include <QString>

namespace velmora::test {

// The parent pid the backend on port reports in its health answer; empty when nothing answers.
QString backendParent(quint16 port);
// A fresh connection each time: a kept-alive one would say nothing about the listener.
bool portAccepts(quint16 port);
// The backend that served port, as its start-up line in the log at logPath names it; 0 when
// none. The log is only ever appended to, so the last line naming the port is the latest start.
qint64 backendPid(const QString &logPath, quint16 port);
// Gone, or a zombie that only waits for a parent to collect it.
bool processGone(qint64 pid);

} // namespace velmora::test
