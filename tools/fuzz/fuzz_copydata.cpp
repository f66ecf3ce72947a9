// WM_COPYDATA records between processes. The first byte picks the side:
// even: the bytes arrive on this process's listening socket, as a sender (or anything that
//       connects) wrote them, and reach a window procedure that reads them as the monitor does;
// odd:  the bytes are a peer's answer to a record this process sent.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/win/ipc.h"
#include "platform/win/windows.h"
#include "tools/fuzz/fuzz_support.h"

namespace {

const char* const kReceiverClass = "FuzzCopyDataReceiver";
const char* const kPeerClass = "FuzzCopyDataPeer";

volatile unsigned g_sink;

// The monitor reads the text up to its NUL, never past cbData.
LRESULT CALLBACK ReceiverProc(HWND h, UINT msg, WPARAM w, LPARAM l)
{
    if (msg != WM_COPYDATA)
        return DefWindowProcA(h, msg, w, l);
    const auto* cds = reinterpret_cast<const COPYDATASTRUCT*>(l);
    const auto* bytes = static_cast<const unsigned char*>(cds->lpData);
    if (cds->cbData && !bytes)
        __builtin_trap();
    unsigned sum = 0;
    for (DWORD i = 0; i < cds->cbData; ++i)
        sum += bytes[i];
    g_sink = sum;
    return TRUE;
}

int ConnectTo(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int ListenAt(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    unlink(path.c_str());
    if (fd >= 0 && (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 4) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

void Receive(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = ReceiverProc;
        wc.lpszClassName = kReceiverClass;
        RegisterClassA(&wc);
        CreateWindowExA(0, kReceiverClass, "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        return platform::win::ipc::SocketPathFor(kReceiverClass);
    }();
    int fd = ConnectTo(path);
    if (fd < 0)
        __builtin_trap();  // the listener must survive every record
    // Inputs are capped well below the socket buffer, so this never blocks.
    [[maybe_unused]] ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    shutdown(fd, SHUT_WR);
    platform::win::ipc::Service();
    char reply[32];
    n = recv(fd, reply, sizeof reply, MSG_DONTWAIT);
    close(fd);
}

// Reads one whole record, then answers with the input and hangs up.
void ServePeer(int listener, const std::uint8_t* data, std::size_t size)
{
    int c = accept(listener, nullptr, nullptr);
    if (c < 0)
        return;
    std::uint8_t header[16];
    std::size_t got = 0;
    while (got < sizeof header) {
        ssize_t k = recv(c, header + got, sizeof header - got, 0);
        if (k <= 0)
            break;
        got += static_cast<std::size_t>(k);
    }
    std::uint32_t body = 0;
    if (got == sizeof header)
        std::memcpy(&body, header + 4, 4);
    std::uint8_t sink[256];
    while (body > 0) {
        ssize_t k = recv(c, sink, std::min<std::size_t>(sizeof sink, body), 0);
        if (k <= 0)
            break;
        body -= static_cast<std::uint32_t>(k);
    }
    [[maybe_unused]] ssize_t n = send(c, data, size, MSG_NOSIGNAL);
    close(c);
}

void Answer(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = platform::win::ipc::SocketPathFor(kPeerClass);
    static const int listener = ListenAt(path);
    static HWND peer = nullptr;
    if (listener < 0)
        __builtin_trap();
    if (!peer) {
        // Finding the peer costs it one connection, which nobody serves.
        std::thread finder([] { peer = FindWindowA(kPeerClass, nullptr); });
        int c = accept(listener, nullptr, nullptr);
        finder.join();
        if (c >= 0)
            close(c);
        if (!peer)
            __builtin_trap();
    }
    std::thread server(ServePeer, listener, data, size);
    const char text[] = "uC.GetDataDir: no registry value";
    COPYDATASTRUCT cds{0, sizeof text, const_cast<char*>(text)};
    SendMessageA(peer, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    server.join();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Isolate();
    static bool timeoutSet = false;
    if (!timeoutSet) {
        timeoutSet = true;
        platform::SetCopyDataTimeoutForTests(200);
    }
    if (size == 0)
        return 0;
    if (data[0] % 2 == 0)
        Receive(data + 1, size - 1);
    else
        Answer(data + 1, size - 1);
    return 0;
}
