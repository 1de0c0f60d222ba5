#pragma once

#include <chrono>

class QAbstractSocket;
class QObject;

// Ends a connection this side has finished writing to, so that the peer gets
// every byte and a clean end of stream.
//
// QAbstractSocket::disconnectFromHost() stops reading and closes its
// descriptor as soon as its own buffer is in the system. If the peer sent
// anything this side never read (a TLS 1.3 server sends session tickets on a
// data connection an upload never reads), the system answers that close with
// a reset and throws away what it still holds for the peer: the tail of the
// upload is lost and the server reports the transfer failed.
//
// So the descriptor is duplicated first. The socket still flushes its bytes
// (and the TLS close_notify) and closes its own descriptor; then the
// duplicate shuts down the sending side, which the peer reads as the end of
// the stream, and reads and drops whatever comes until the peer closes or
// drainLimit has passed. The duplicate belongs to context and is closed with
// it at the latest. Without a descriptor to duplicate, this is a plain
// disconnectFromHost().
void closeAfterSending(QAbstractSocket *socket, std::chrono::milliseconds drainLimit, QObject *context);
