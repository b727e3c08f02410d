// TCP for the mail client: every wait (connect, send, receive) bounded by a time-out and cut
// short by a stop check, so a dead or silent server can never hold the mail thread for long.
// Used by the mail thread only; each call touches only its own socket.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/tls/Tls.h"

namespace mailnet {

// Each call ends by the limits' deadline, counted by the caller from the start of its step.
using IoLimits = qv::tls::Limits;

enum class ConnectResult { Connected, NotResolved, NoSocket, Failed };

// Resolves host (a name or a dotted address; IPv4, first address) and connects to port.
// On Connected, fd holds the socket (non-blocking); otherwise fd is -1.
ConnectResult Connect(const std::string& host, int port, const IoLimits& limits, int& fd);

// Sends all bytes; an error or a time-out silently gives up the rest.
void SendAll(int fd, std::string_view bytes, const IoLimits& limits);

enum class ReceiveResult { Data, Closed, TimedOut, Failed };

// One receive of up to 1024 bytes into reply (cleared first).
ReceiveResult ReceiveOnce(int fd, const IoLimits& limits, std::string& reply);

void CloseSocket(int fd);

// A designed pause (the servers' settling time): ms, or less when stop says so.
void Pause(int ms, const std::function<bool()>& stop);

}  // namespace mailnet
