// WM_COPYDATA between processes: each process with a top-level window of a class listens
// on a Unix-domain socket named after the class in the user's runtime folder; FindWindowA
// in another process connects to it, and SendMessageA sends one record and waits a
// bounded time for the receiver's result.
#pragma once

#include <poll.h>

#include <string>
#include <vector>

#include "platform/win/windows.h"

namespace platform::win::ipc {

// Listening follows the life of the class's first top-level window.
void StartListening(const std::string& className);
void StopListening(const std::string& className);
void StopAll();

// A handle for a live listener of another process, or none.
HWND FindPeer(const std::string& className);
bool PeerExists(HWND peer);
// The receiver's result; 0 when the peer is gone, hangs, or answers garbage.
LRESULT SendCopyData(HWND peer, const COPYDATASTRUCT* data);

// The message loop's side: sockets to wait on, how long until a stalled sender is
// dropped (-1: none), and a non-blocking pass that serves what has arrived.
void AddPollFds(std::vector<pollfd>& fds);
int NextTimeoutMs();
void Service();

// The socket a class listens on; empty when no private folder can be had.
std::string SocketPathFor(const std::string& className);

}  // namespace platform::win::ipc

namespace platform {
// How long SendMessageA waits for another process (2000 ms unless set).
void SetCopyDataTimeoutForTests(int milliseconds);
}  // namespace platform
