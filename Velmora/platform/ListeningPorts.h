#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

namespace velmora::platform {

// Whether something listens on a TCP port of this machine, as the system's own socket table
// says: no connection is made and nobody is woken, so it can be asked often at no cost.
// Empty where the table cannot be read (not Linux, or /proc not mounted).
std::optional<bool> isListeningOn(quint16 port);

// Whether a TCP connection to port on 127.0.0.1 is refused right now: nothing listens there.
// False when something accepts it, or when no answer came within a moment (a listener whose
// queue is full). Blocks for that moment at most; the connection is closed unused.
bool loopbackRefuses(quint16 port);

// A TCP port of the loopback address that nothing uses at this moment, as the system hands
// one out; empty when it would not.
std::optional<quint16> freeLoopbackPort();

// The rule behind it: whether the text of a socket table in the form of /proc/net/tcp or
// /proc/net/tcp6 lists a socket in the listening state on port, at any local address.
bool socketTableListensOn(QByteArrayView table, quint16 port);

} // namespace velmora::platform
