#include "platform/win/ipc.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

#include "platform/win/window_table.h"

namespace platform::win::ipc {
namespace {

using Clock = std::chrono::steady_clock;

// Record: magic, byte count, dwData, then the bytes. Reply: magic, 0, result.
constexpr std::uint32_t kRequestMagic = 0x31444348;  // "HCD1"
constexpr std::uint32_t kReplyMagic = 0x31524348;    // "HCR1"
constexpr std::size_t kHeaderSize = 16;
constexpr std::uint32_t kMaxRecordBytes = 1u << 20;
constexpr std::size_t kMaxConnections = 16;
constexpr int kReceiveWindowMs = 2000;  // a sender that stalls longer is dropped

int g_sendTimeoutMs = 2000;

struct Listener {
    int fd = -1;
    std::string path;
    ino_t inode = 0;
};

struct Connection {
    int fd = -1;
    std::string className;
    std::vector<std::uint8_t> data;
    Clock::time_point deadline;
};

std::map<std::string, Listener>& Listeners()
{
    static std::map<std::string, Listener> listeners;
    return listeners;
}

std::vector<Connection>& Connections()
{
    static std::vector<Connection> connections;
    return connections;
}

std::vector<std::string>& Peers()
{
    static std::vector<std::string> peers;
    return peers;
}

bool PrivateFolder(const std::string& dir)
{
    struct stat st{};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return false;
    if ((st.st_mode & 077) != 0 && chmod(dir.c_str(), 0700) != 0)
        return false;
    return true;
}

std::string RuntimeFolder()
{
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg && xdg[0] == '/') {
        struct stat st{};
        if (stat(xdg, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid())
            return xdg;
    }
    std::string dir = "/tmp/halvora-" + std::to_string(getuid());
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    return PrivateFolder(dir) ? dir : std::string{};
}

std::string EncodeName(const std::string& name)
{
    std::string out;
    for (unsigned char c : name) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

std::string HashName(const std::string& name)
{
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : name)
        h = (h ^ c) * 1099511628211ull;
    char text[24];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

bool FillAddress(const std::string& path, sockaddr_un& addr)
{
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return true;
}

int NewSocket() { return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); }

// A connected socket, or -1 (errno ECONNREFUSED when the file is a leftover).
int Connect(const std::string& path)
{
    sockaddr_un addr{};
    if (!FillAddress(path, addr))
        return -1;
    int fd = NewSocket();
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

int MillisecondsLeft(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

bool WaitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        pollfd p{fd, events, 0};
        int n = poll(&p, 1, MillisecondsLeft(deadline));
        if (n > 0)
            return true;  // ready, or broken: the next send/recv tells which
        if (n == 0 || errno != EINTR)
            return false;
    }
}

// Moves N bytes with Step (send or recv), waiting for Ready while the socket would block;
// false once the peer closed, an error struck or Deadline passed.
template <typename Byte, typename StepFn>
bool TransferAll(int fd, Byte* p, std::size_t n, short ready, Clock::time_point deadline, StepFn step)
{
    while (n > 0) {
        ssize_t k = step(fd, p, n);
        if (k > 0) {
            p += k;
            n -= static_cast<std::size_t>(k);
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && WaitFor(fd, ready, deadline))
            continue;
        return false;
    }
    return true;
}

bool SendAll(int fd, const std::uint8_t* p, std::size_t n, Clock::time_point deadline)
{
    return TransferAll(fd, p, n, POLLOUT, deadline,
                       [](int s, const std::uint8_t* b, std::size_t c) { return send(s, b, c, MSG_NOSIGNAL); });
}

bool ReceiveAll(int fd, std::uint8_t* p, std::size_t n, Clock::time_point deadline)
{
    return TransferAll(fd, p, n, POLLIN, deadline, [](int s, std::uint8_t* b, std::size_t c) { return recv(s, b, c, 0); });
}

template <class T> void Put(std::vector<std::uint8_t>& out, T v)
{
    const auto* b = reinterpret_cast<const std::uint8_t*>(&v);
    out.insert(out.end(), b, b + sizeof v);
}

template <class T> T Get(const std::uint8_t* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void CloseConnection(std::size_t i)
{
    close(Connections()[i].fd);
    Connections().erase(Connections().begin() + static_cast<std::ptrdiff_t>(i));
}

void AcceptAll(const std::string& className, Listener& l)
{
    for (;;) {
        int fd = accept4(l.fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        if (Connections().size() >= kMaxConnections) {
            close(fd);
            continue;
        }
        Connections().push_back(
            {fd, className, {}, Clock::now() + std::chrono::milliseconds(kReceiveWindowMs)});
    }
}

// Reads what is there; true when the record is complete, false to keep waiting.
// A broken or oversized record closes the connection (returns true with fd < 0 marked).
enum class ReadState { Waiting, Complete, Broken };

ReadState ReadSome(Connection& c)
{
    std::uint8_t chunk[16384];
    for (;;) {
        std::size_t want = kHeaderSize;
        if (c.data.size() >= kHeaderSize) {
            if (Get<std::uint32_t>(c.data.data()) != kRequestMagic)
                return ReadState::Broken;
            std::uint32_t bytes = Get<std::uint32_t>(c.data.data() + 4);
            if (bytes > kMaxRecordBytes)
                return ReadState::Broken;
            want = kHeaderSize + bytes;
        }
        if (c.data.size() >= want)
            return ReadState::Complete;
        ssize_t k = recv(c.fd, chunk, std::min(sizeof chunk, want - c.data.size()), 0);
        if (k > 0) {
            c.data.insert(c.data.end(), chunk, chunk + k);
            continue;
        }
        if (k < 0 && errno == EINTR)
            continue;
        if (k < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return ReadState::Waiting;
        return ReadState::Broken;
    }
}

LRESULT Deliver(const Connection& c)
{
    std::vector<WindowPtr> targets = TopLevelOfClass(c.className);
    if (targets.empty())
        return 0;
    COPYDATASTRUCT cds{};
    cds.dwData = static_cast<ULONG_PTR>(Get<std::uint64_t>(c.data.data() + 8));
    cds.cbData = Get<std::uint32_t>(c.data.data() + 4);
    // The receiver may read the bytes but not past them; keep a spare NUL for careless readers.
    std::vector<std::uint8_t> bytes(c.data.begin() + kHeaderSize, c.data.end());
    bytes.push_back(0);
    cds.lpData = cds.cbData ? bytes.data() : nullptr;
    // The sender's window means nothing in this process, so wParam carries none.
    return CallProcedure(targets.front(), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
}

void Reply(int fd, LRESULT result)
{
    std::vector<std::uint8_t> out;
    Put<std::uint32_t>(out, kReplyMagic);
    Put<std::uint32_t>(out, 0);
    Put<std::int64_t>(out, static_cast<std::int64_t>(result));
    // The reply fits in an empty socket buffer; a sender that stopped reading loses it.
    [[maybe_unused]] ssize_t n = send(fd, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool g_serving = false;

void UnlinkOwnSocketsAtExit()
{
    for (auto& [name, l] : Listeners()) {
        struct stat st{};
        if (stat(l.path.c_str(), &st) == 0 && st.st_ino == l.inode)
            unlink(l.path.c_str());
    }
}

}  // namespace

std::string SocketPathFor(const std::string& className)
{
    std::string dir = RuntimeFolder();
    if (dir.empty())
        return {};
    std::string path = dir + "/halvora-" + EncodeName(className) + ".sock";
    if (path.size() >= sizeof(sockaddr_un::sun_path))
        path = dir + "/halvora-" + HashName(className) + ".sock";
    return path.size() < sizeof(sockaddr_un::sun_path) ? path : std::string{};
}

void StartListening(const std::string& className)
{
    if (Listeners().count(className))
        return;
    const std::string path = SocketPathFor(className);
    sockaddr_un addr{};
    if (!FillAddress(path, addr))
        return;
    int fd = NewSocket();
    if (fd < 0)
        return;
    bool bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (!bound && errno == EADDRINUSE) {
        int probe = Connect(path);
        if (probe >= 0) {
            close(probe);  // a live process of that class answers there already
        } else if (errno == ECONNREFUSED || errno == ENOENT) {
            unlink(path.c_str());  // left behind by a process that died
            bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        }
    }
    struct stat st{};
    if (!bound || listen(fd, 16) != 0 || stat(path.c_str(), &st) != 0) {
        close(fd);
        return;
    }
    static bool hooked = false;
    if (!hooked) {
        hooked = true;
        std::atexit(UnlinkOwnSocketsAtExit);
    }
    Listeners()[className] = {fd, path, st.st_ino};
}

void StopListening(const std::string& className)
{
    auto it = Listeners().find(className);
    if (it == Listeners().end())
        return;
    struct stat st{};
    if (stat(it->second.path.c_str(), &st) == 0 && st.st_ino == it->second.inode)
        unlink(it->second.path.c_str());
    close(it->second.fd);
    Listeners().erase(it);
    for (std::size_t i = Connections().size(); i-- > 0;)
        if (Connections()[i].className == className)
            CloseConnection(i);
}

void StopAll()
{
    while (!Listeners().empty())
        StopListening(Listeners().begin()->first);
    while (!Connections().empty())
        CloseConnection(Connections().size() - 1);
    Peers().clear();
}

HWND FindPeer(const std::string& className)
{
    int fd = Connect(SocketPathFor(className));
    if (fd < 0)
        return nullptr;
    close(fd);
    auto it = std::find(Peers().begin(), Peers().end(), className);
    if (it == Peers().end())
        it = Peers().insert(Peers().end(), className);
    return MakeHandle(kPeerBase | static_cast<std::uint64_t>(it - Peers().begin() + 1));
}

static const std::string* PeerClass(HWND peer)
{
    std::uint64_t index = HandleValue(peer) & ~kHandleRangeMask;
    if (!IsPeerRange(peer) || index == 0 || index > Peers().size())
        return nullptr;
    return &Peers()[index - 1];
}

bool PeerExists(HWND peer)
{
    const std::string* name = PeerClass(peer);
    if (!name)
        return false;
    int fd = Connect(SocketPathFor(*name));
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

LRESULT SendCopyData(HWND peer, const COPYDATASTRUCT* data)
{
    const std::string* name = PeerClass(peer);
    if (!name || !data || data->cbData > kMaxRecordBytes || (data->cbData && !data->lpData))
        return 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(g_sendTimeoutMs);
    int fd = Connect(SocketPathFor(*name));
    if (fd < 0)
        return 0;
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + data->cbData);
    Put<std::uint32_t>(out, kRequestMagic);
    Put<std::uint32_t>(out, data->cbData);
    Put<std::uint64_t>(out, static_cast<std::uint64_t>(data->dwData));
    const auto* bytes = static_cast<const std::uint8_t*>(data->lpData);
    out.insert(out.end(), bytes, bytes + data->cbData);
    std::uint8_t reply[kHeaderSize];
    LRESULT result = 0;
    if (SendAll(fd, out.data(), out.size(), deadline) && ReceiveAll(fd, reply, sizeof reply, deadline) &&
        Get<std::uint32_t>(reply) == kReplyMagic && Get<std::uint32_t>(reply + 4) == 0)
        result = static_cast<LRESULT>(Get<std::int64_t>(reply + 8));
    close(fd);
    return result;
}

void AddPollFds(std::vector<pollfd>& fds)
{
    for (auto& [name, l] : Listeners())
        fds.push_back({l.fd, POLLIN, 0});
    for (auto& c : Connections())
        fds.push_back({c.fd, POLLIN, 0});
}

int NextTimeoutMs()
{
    int timeout = -1;
    for (auto& c : Connections()) {
        int left = MillisecondsLeft(c.deadline);
        timeout = timeout < 0 ? left : std::min(timeout, left);
    }
    return timeout;
}

void Service()
{
    // A window procedure that waits for messages inside WM_COPYDATA must not re-enter here.
    if (g_serving)
        return;
    g_serving = true;
    for (auto& [name, l] : Listeners())
        AcceptAll(name, l);
    for (std::size_t i = 0; i < Connections().size();) {
        Connection& c = Connections()[i];
        ReadState s = ReadSome(c);
        if (s == ReadState::Waiting && Clock::now() < c.deadline) {
            ++i;
            continue;
        }
        if (s == ReadState::Complete) {
            Connection taken = std::move(c);
            Connections().erase(Connections().begin() + static_cast<std::ptrdiff_t>(i));
            Reply(taken.fd, Deliver(taken));
            close(taken.fd);
            continue;  // Deliver may have changed the list; i now names the next one
        }
        CloseConnection(i);
    }
    g_serving = false;
}

}  // namespace platform::win::ipc

void platform::SetCopyDataTimeoutForTests(int milliseconds)
{
    platform::win::ipc::g_sendTimeoutMs = milliseconds > 0 ? milliseconds : 2000;
}
