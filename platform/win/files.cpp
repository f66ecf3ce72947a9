// Win32 file functions over POSIX; paths go through ResolvePath.

#include "platform/win/paths.h"
#include "platform/win/windows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

namespace {

constexpr DWORD kErrorFileExists = 80;
constexpr DWORD kErrorWriteFault = 29;
constexpr DWORD kErrorReadFault = 30;
constexpr DWORD kErrorDiskFull = 112;

struct FileObject {
    int FD = -1;
};

std::mutex FilesLock;
std::set<FileObject*> OpenFiles;

DWORD ErrorFromErrno(int error, const std::string& native)
{
    switch (error) {
    case ENOENT: {
        // A missing folder on the way is a missing path, as Windows tells them apart.
        const std::size_t slash = native.rfind('/');
        struct stat st;
        if (slash != std::string::npos && slash > 0 && ::stat(native.substr(0, slash).c_str(), &st) != 0)
            return ERROR_PATH_NOT_FOUND;
        return ERROR_FILE_NOT_FOUND;
    }
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EEXIST:
        return kErrorFileExists;
    case ENOSPC:
        return kErrorDiskFull;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG:
        return ERROR_PATH_NOT_FOUND;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

FileObject* FromHandle(HANDLE handle)
{
    std::lock_guard<std::mutex> lock(FilesLock);
    auto* file = static_cast<FileObject*>(handle);
    return OpenFiles.count(file) ? file : nullptr;
}

void SyncFolderOf(const std::string& native)
{
    const std::size_t slash = native.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : native.substr(0, slash));
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

HANDLE CreateFileA(LPCSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                   LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                   DWORD dwFlagsAndAttributes, HANDLE hTemplateFile)
{
    if (!lpFileName || !*lpFileName) {
        SetLastError(!lpFileName ? ERROR_INVALID_PARAMETER : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const bool read = dwDesiredAccess & GENERIC_READ;
    const bool write = dwDesiredAccess & GENERIC_WRITE;
    int flags = O_CLOEXEC | (read && write ? O_RDWR : (write ? O_WRONLY : O_RDONLY));
    switch (dwCreationDisposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        if (!write) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        flags |= O_TRUNC;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const std::string native = platform::ResolvePath(lpFileName);
    struct stat before;
    const bool existed = ::stat(native.c_str(), &before) == 0;
    if (existed && S_ISDIR(before.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    int fd;
    do
        fd = ::open(native.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        SetLastError(ErrorFromErrno(errno, native));
        return INVALID_HANDLE_VALUE;
    }
    auto* file = new FileObject{fd};
    {
        std::lock_guard<std::mutex> lock(FilesLock);
        OpenFiles.insert(file);
    }
    const bool reportsExisting = dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS;
    SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return file;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
              LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = 0;
    FileObject* file = FromHandle(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpBuffer && nNumberOfBytesToRead) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD total = 0;
    while (total < nNumberOfBytesToRead) {
        const ssize_t n = ::read(file->FD, static_cast<char*>(lpBuffer) + total, nNumberOfBytesToRead - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            SetLastError(errno == EISDIR ? ERROR_ACCESS_DENIED : kErrorReadFault);
            if (lpNumberOfBytesRead)
                *lpNumberOfBytesRead = total;
            return FALSE;
        }
        if (n == 0)
            break;
        total += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesRead)
        *lpNumberOfBytesRead = total;
    return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
               LPOVERLAPPED lpOverlapped)
{
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    FileObject* file = FromHandle(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!lpBuffer && nNumberOfBytesToWrite) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD total = 0;
    while (total < nNumberOfBytesToWrite) {
        const ssize_t n = ::write(file->FD, static_cast<const char*>(lpBuffer) + total, nNumberOfBytesToWrite - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            SetLastError(n < 0 && errno == ENOSPC ? kErrorDiskFull : (n < 0 && errno == EBADF ? ERROR_ACCESS_DENIED : kErrorWriteFault));
            if (lpNumberOfBytesWritten)
                *lpNumberOfBytesWritten = total;
            return FALSE;
        }
        total += static_cast<DWORD>(n);
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = total;
    return TRUE;
}

BOOL FlushFileBuffers(HANDLE hFile)
{
    FileObject* file = FromHandle(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (::fsync(file->FD) != 0 && errno != EINVAL) {
        SetLastError(kErrorWriteFault);
        return FALSE;
    }
    return TRUE;
}

BOOL CloseHandle(HANDLE hObject)
{
    std::lock_guard<std::mutex> lock(FilesLock);
    auto* file = static_cast<FileObject*>(hObject);
    if (!OpenFiles.erase(file)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const bool ok = ::close(file->FD) == 0;
    delete file;
    if (!ok)
        SetLastError(kErrorWriteFault);
    return ok ? TRUE : FALSE;
}

DWORD GetFileSize(HANDLE hFile, LPDWORD lpFileSizeHigh)
{
    FileObject* file = FromHandle(hFile);
    struct stat st;
    if (!file || ::fstat(file->FD, &st) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    const auto size = static_cast<uint64_t>(st.st_size);
    if (lpFileSizeHigh)
        *lpFileSizeHigh = static_cast<DWORD>(size >> 32);
    SetLastError(ERROR_SUCCESS);  // INVALID_FILE_SIZE may be a real low part
    return static_cast<DWORD>(size & 0xFFFFFFFFu);
}

DWORD SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh, DWORD dwMoveMethod)
{
    FileObject* file = FromHandle(hFile);
    if (!file) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t distance = lDistanceToMove;
    if (lpDistanceToMoveHigh)
        distance = static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(*lpDistanceToMoveHigh)) << 32) |
                                        static_cast<uint32_t>(lDistanceToMove));
    const int whence = dwMoveMethod == FILE_BEGIN ? SEEK_SET : dwMoveMethod == FILE_CURRENT ? SEEK_CUR : dwMoveMethod == FILE_END ? SEEK_END : -1;
    if (whence < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    const off_t position = ::lseek(file->FD, static_cast<off_t>(distance), whence);
    if (position < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);  // Windows: ERROR_NEGATIVE_SEEK and friends
        return INVALID_SET_FILE_POINTER;
    }
    if (lpDistanceToMoveHigh)
        *lpDistanceToMoveHigh = static_cast<LONG>(static_cast<uint64_t>(position) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(static_cast<uint64_t>(position) & 0xFFFFFFFFu);
}

DWORD GetFileAttributesA(LPCSTR lpFileName)
{
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    const std::string native = platform::ResolvePath(lpFileName);
    struct stat st;
    if (native.empty() || ::stat(native.c_str(), &st) != 0) {
        SetLastError(ErrorFromErrno(native.empty() ? ENOENT : errno, native));
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(st.st_mode))
        return FILE_ATTRIBUTE_DIRECTORY;
    return ::access(native.c_str(), W_OK) == 0 ? FILE_ATTRIBUTE_NORMAL : FILE_ATTRIBUTE_READONLY;
}

BOOL DeleteFileA(LPCSTR lpFileName)
{
    if (!lpFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string native = platform::ResolvePath(lpFileName);
    struct stat st;
    if (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (::unlink(native.c_str()) != 0) {
        SetLastError(ErrorFromErrno(errno, native));
        return FALSE;
    }
    return TRUE;
}

BOOL MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    // A missing target means "delete at the next reboot", which has no meaning here.
    if (!lpExistingFileName || !lpNewFileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string from = platform::ResolvePath(lpExistingFileName);
    const std::string to = platform::ResolvePath(lpNewFileName);
    struct stat st;
    if (::lstat(from.c_str(), &st) != 0) {
        SetLastError(ErrorFromErrno(errno, from));
        return FALSE;
    }
    struct stat target;
    if (::lstat(to.c_str(), &target) == 0 && from != to) {
        if (!(dwFlags & MOVEFILE_REPLACE_EXISTING)) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return FALSE;
        }
        if (S_ISDIR(target.st_mode)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    if (::rename(from.c_str(), to.c_str()) != 0) {
        SetLastError(errno == EXDEV ? ERROR_ACCESS_DENIED : ErrorFromErrno(errno, to));
        return FALSE;
    }
    if (dwFlags & MOVEFILE_WRITE_THROUGH)
        SyncFolderOf(to);
    return TRUE;
}

BOOL CreateDirectoryA(LPCSTR lpPathName, LPSECURITY_ATTRIBUTES lpSecurityAttributes)
{
    if (!lpPathName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string native = platform::ResolvePath(lpPathName);
    if (::mkdir(native.c_str(), 0777) != 0) {
        SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : ErrorFromErrno(errno, native));
        return FALSE;
    }
    return TRUE;
}

DWORD GetTempPathA(DWORD nBufferLength, LPSTR lpBuffer)
{
    const char* tmp = std::getenv("TMPDIR");
    std::string path = (tmp && *tmp) ? tmp : "/tmp";
    if (path.back() != '/')
        path += '/';
    if (!lpBuffer || nBufferLength <= path.size())
        return static_cast<DWORD>(path.size() + 1);
    std::memcpy(lpBuffer, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}
