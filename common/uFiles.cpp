#include "common/uFiles.h"

#include "platform/win/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace {

int OpenRetrying(const char* path, int flags, mode_t mode = 0)
{
    int fd;
    do
        fd = ::open(path, flags | O_CLOEXEC, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

bool WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string DirectoryOf(const std::string& native)
{
    const std::size_t slash = native.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : native.substr(0, slash);
}

mode_t ModeForNewFile(const std::string& native)
{
    struct stat st;
    if (::stat(native.c_str(), &st) == 0)
        return st.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool FileExists(const std::string& path)
{
    struct stat st;
    return ::stat(platform::ResolvePath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int64_t FileSizeOf(const std::string& path)
{
    struct stat st;
    if (::stat(platform::ResolvePath(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return -1;
    return static_cast<int64_t>(st.st_size);
}

namespace {

// Reads up to Size bytes; fewer only at the end of the file. False on a read error.
bool ReadUpTo(int fd, uint8_t* data, std::size_t size, std::size_t& got)
{
    got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, data + got, size - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;  // the file shrank while we read it
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// A regular file opened for reading, or -1; its size in Size.
int OpenRegularFile(const std::string& path, std::size_t& size)
{
    const int fd = OpenRetrying(platform::ResolvePath(path).c_str(), O_RDONLY);
    if (fd < 0)
        return -1;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    size = static_cast<std::size_t>(st.st_size);
    return fd;
}

}  // namespace

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, std::size_t maxBytes)
{
    bytes.clear();
    std::size_t size = 0;
    const int fd = OpenRegularFile(path, size);
    if (fd < 0)
        return false;
    bytes.resize(size < maxBytes ? size : maxBytes);
    std::size_t got = 0;
    const bool ok = ReadUpTo(fd, bytes.data(), bytes.size(), got);
    ::close(fd);
    bytes.resize(got);
    return ok;
}

bool ReadFilePart(const std::string& path, uint64_t offset, void* data, std::size_t size)
{
    std::size_t fileSize = 0;
    const int fd = OpenRegularFile(path, fileSize);
    if (fd < 0)
        return false;
    std::size_t got = 0;
    const bool ok = ::lseek(fd, static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset) &&
                    ReadUpTo(fd, static_cast<uint8_t*>(data), size, got) && got == size;
    ::close(fd);
    return ok;
}

bool AppendTextLine(const std::string& path, const std::string& text)
{
    const int fd = OpenRetrying(platform::ResolvePath(path).c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
    if (fd < 0)
        return false;
    const std::string line = text + "\r\n";
    const bool ok = WriteAll(fd, line.data(), line.size());
    return ::close(fd) == 0 && ok;
}

bool WriteFileReplacing(const std::string& path, const std::string& bytes)
{
    const std::string native = platform::ResolvePath(path);
    if (native.empty())
        return false;
    std::string temp = DirectoryOf(native) + "/.halvora-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, ModeForNewFile(native)) == 0;
    ok = ok && WriteAll(fd, bytes.data(), bytes.size());
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), native.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    // Make the rename itself durable; a failure here no longer risks the old contents.
    const int dirfd = OpenRetrying(DirectoryOf(native).c_str(), O_RDONLY | O_DIRECTORY);
    if (dirfd >= 0) {
        ::fsync(dirfd);
        ::close(dirfd);
    }
    return true;
}

bool DeleteFileAt(const std::string& path)
{
    return ::unlink(platform::ResolvePath(path).c_str()) == 0;
}

std::string CreatePrivateTempFile(const std::string& prefix, const std::string& suffix)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = (tmp && *tmp) ? tmp : "/tmp";
    std::string name = dir + "/" + prefix + "XXXXXX" + suffix;
    const int fd = ::mkostemps(name.data(), static_cast<int>(suffix.size()), O_CLOEXEC);
    if (fd < 0)
        return std::string();
    ::close(fd);
    return name;
}

TTextFileReader::TTextFileReader(std::size_t maxLine) : MaxLine(maxLine == 0 ? 1 : maxLine), Buffer(16 * 1024) {}

TTextFileReader::~TTextFileReader() { Close(); }

bool TTextFileReader::Open(const std::string& path)
{
    Close();
    FD = OpenRetrying(platform::ResolvePath(path).c_str(), O_RDONLY);
    if (FD < 0)
        return false;
    struct stat st;
    if (::fstat(FD, &st) != 0 || S_ISDIR(st.st_mode)) {
        Close();
        return false;
    }
    Pos = End = 0;
    AtEnd = false;
    return true;
}

void TTextFileReader::Close()
{
    if (FD >= 0)
        ::close(FD);
    FD = -1;
    Pos = End = 0;
    AtEnd = true;
}

bool TTextFileReader::Fill()
{
    if (AtEnd || FD < 0)
        return false;
    for (;;) {
        const ssize_t n = ::read(FD, Buffer.data(), Buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            AtEnd = true;
            return false;
        }
        Pos = 0;
        End = static_cast<std::size_t>(n);
        return true;
    }
}

void TTextFileReader::Append(std::string& line, char c)
{
    if (line.size() < MaxLine)
        line += c;
    else
        Cut = true;
}

bool TTextFileReader::ReadLine(std::string& line)
{
    line.clear();
    Cut = false;
    bool any = false;
    bool pendingCR = false;  // a CR counts as text only when no LF follows it
    for (;;) {
        if (Pos == End && !Fill())
            break;
        any = true;
        const char c = Buffer[Pos++];
        if (c == '\n')
            return true;
        if (pendingCR)
            Append(line, '\r');
        pendingCR = c == '\r';
        if (!pendingCR)
            Append(line, c);
    }
    return any;
}
