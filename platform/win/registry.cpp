// HKEY_LOCAL_MACHINE backed by read-only REGEDIT4 text files: the user's own over the
// machine's, so that one installation serves every user.

#include "platform/win/profile.h"
#include "platform/win/windows.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

// A registry file larger than this is not read past this point.
constexpr std::size_t kMaxRegistryBytes = 4 * 1024 * 1024;

struct RegValue {
    std::string Name;  // lower case; empty for the default value
    DWORD Type = REG_SZ;
    std::string Data;  // REG_SZ without its NUL, REG_DWORD as 4 little-endian bytes
};

struct OpenKey {
    std::string Path;  // lower case, components separated by single '\'
};

std::mutex KeysLock;
std::set<OpenKey*> OpenKeys;

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string UserHiveName()
{
    if (const char* explicitPath = std::getenv("HALVORA_REGISTRY"); explicitPath && *explicitPath)
        return explicitPath;
    const std::string config = platform::UserBaseFolder(platform::UserFolderKind::Config);
    return config.empty() ? std::string() : config + "/halvora/registry.reg";
}

std::string MachineHiveName()
{
    const std::string folder = platform::MachineConfigFolder();
    return folder.empty() ? std::string() : folder + "/registry.reg";
}

bool ReadHiveFile(const std::string& name, std::string& text)
{
    text.clear();
    if (name.empty())
        return false;
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    char buffer[64 * 1024];
    while (text.size() < kMaxRegistryBytes) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, kMaxRegistryBytes - text.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

// The machine's hive first, so that the user's lines, read later, win.
std::vector<std::string> ReadHives()
{
    std::vector<std::string> hives;
    std::string text;
    if (ReadHiveFile(MachineHiveName(), text)) {
        // The machine's registry names each user's data folder; it must hold the shipped files.
        platform::PrepareUserDataFolder();
        hives.push_back(std::move(text));
    }
    if (ReadHiveFile(UserHiveName(), text))
        hives.push_back(std::move(text));
    return hives;
}

// Lower case, '/' as written stays, runs of '\' collapse, no leading or trailing '\'.
std::string NormalizeKeyPath(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == '\\') {
            if (!out.empty() && out.back() != '\\')
                out += c;
        } else {
            out += c;
        }
    }
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    return LowerAscii(out);
}

// "hkey_local_machine\software\x" -> "software\x"; other roots are not backed.
bool StripLocalMachine(const std::string& normalized, std::string& subkey)
{
    static const char* const roots[] = {"hkey_local_machine", "hklm"};
    for (const char* root : roots) {
        const std::size_t n = std::strlen(root);
        if (normalized.compare(0, n, root) == 0 && (normalized.size() == n || normalized[n] == '\\')) {
            subkey = normalized.size() == n ? std::string() : normalized.substr(n + 1);
            return true;
        }
    }
    return false;
}

// Reads a quoted string at Pos (which holds '"'); Pos ends after the closing quote.
bool ReadQuoted(const std::string& line, std::size_t& pos, std::string& out)
{
    out.clear();
    if (pos >= line.size() || line[pos] != '"')
        return false;
    for (++pos; pos < line.size(); ++pos) {
        const char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < line.size() && (line[pos + 1] == '\\' || line[pos + 1] == '"')) {
            out += line[++pos];
            continue;
        }
        out += c;
    }
    return false;
}

bool ParseDword(const std::string& text, std::string& data)
{
    if (text.empty() || text.size() > 8)
        return false;
    uint32_t value = 0;
    for (char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        value = (value << 4) | static_cast<uint32_t>(digit);
    }
    data.assign(4, '\0');
    for (int i = 0; i < 4; ++i)
        data[static_cast<std::size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return true;
}

// "Name"="text", @="text", "Name"=dword:0000002a; anything else is skipped.
bool ParseValueLine(const std::string& line, RegValue& value)
{
    std::size_t pos = 0;
    if (line[0] == '@') {
        value.Name.clear();
        pos = 1;
    } else if (!ReadQuoted(line, pos, value.Name)) {
        return false;
    }
    value.Name = LowerAscii(value.Name);
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    if (pos >= line.size() || line[pos] != '=')
        return false;
    ++pos;
    while (pos < line.size() && line[pos] == ' ')
        ++pos;
    if (pos < line.size() && line[pos] == '"') {
        value.Type = REG_SZ;
        return ReadQuoted(line, pos, value.Data);
    }
    const std::string rest = line.substr(pos);
    if (LowerAscii(rest.substr(0, 6)) == "dword:") {
        value.Type = REG_DWORD;
        return ParseDword(rest.substr(6), value.Data);
    }
    return false;
}

std::string TrimLine(const std::string& line)
{
    std::size_t first = 0, last = line.size();
    while (first < last && (line[first] == ' ' || line[first] == '\t'))
        ++first;
    while (last > first && (line[last - 1] == ' ' || line[last - 1] == '\t' || line[last - 1] == '\r'))
        --last;
    return line.substr(first, last - first);
}

// Walks the file once. KeyExists: a key line names the key or one below it.
struct Lookup {
    bool KeyExists = false;
    bool ValueFound = false;
    RegValue Value;
};

void SearchHive(const std::string& text, const std::string& keyPath, const std::string* valueName, Lookup& result)
{
    bool inKey = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string line = TrimLine(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';')
            continue;
        if (line[0] == '[') {
            inKey = false;
            const std::size_t close = line.rfind(']');
            std::string subkey;
            if (close == std::string::npos || close == 0 ||
                !StripLocalMachine(NormalizeKeyPath(line.substr(1, close - 1)), subkey))
                continue;
            if (subkey == keyPath) {
                inKey = true;
                result.KeyExists = true;
            } else if (subkey.size() > keyPath.size() && (keyPath.empty() || subkey[keyPath.size()] == '\\') &&
                       subkey.compare(0, keyPath.size(), keyPath) == 0) {
                result.KeyExists = true;
            }
            continue;
        }
        RegValue value;
        if (inKey && valueName && ParseValueLine(line, value) && value.Name == *valueName) {
            result.ValueFound = true;  // a later line for the same name wins, as on import
            result.Value = value;
        }
    }
}

Lookup Search(const std::string& keyPath, const std::string* valueName)
{
    Lookup result;
    const std::vector<std::string> hives = ReadHives();
    for (const std::string& text : hives)
        SearchHive(text, keyPath, valueName, result);
    if (keyPath.empty() && !hives.empty())
        result.KeyExists = true;  // the root itself always exists
    if (result.ValueFound && result.Value.Type == REG_SZ)
        result.Value.Data = platform::ExpandUserFolders(result.Value.Data);
    return result;
}

bool IsPredefined(HKEY key)
{
    const auto v = reinterpret_cast<uintptr_t>(key);
    return v >= reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) && v <= reinterpret_cast<uintptr_t>(HKEY_CLASSES_ROOT) + 6;
}

// The key's path below HKEY_LOCAL_MACHINE; false for handles that are not keys of it.
LSTATUS KeyPathOf(HKEY key, std::string& path, bool& backed)
{
    backed = true;
    if (key == HKEY_LOCAL_MACHINE) {
        path.clear();
        return ERROR_SUCCESS;
    }
    if (IsPredefined(key)) {
        backed = false;
        return ERROR_SUCCESS;
    }
    std::lock_guard<std::mutex> lock(KeysLock);
    auto* open = reinterpret_cast<OpenKey*>(key);
    if (!OpenKeys.count(open))
        return ERROR_INVALID_HANDLE;
    path = open->Path;
    return ERROR_SUCCESS;
}

}  // namespace

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired, PHKEY phkResult)
{
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    *phkResult = nullptr;
    std::string base;
    bool backed = true;
    if (const LSTATUS status = KeyPathOf(hKey, base, backed); status != ERROR_SUCCESS)
        return status;
    if (!backed)
        return ERROR_FILE_NOT_FOUND;
    std::string path = NormalizeKeyPath(lpSubKey ? lpSubKey : "");
    while (!path.empty() && path[0] == '\\')
        path.erase(0, 1);
    if (!base.empty())
        path = path.empty() ? base : base + "\\" + path;
    if (!Search(path, nullptr).KeyExists)
        return ERROR_FILE_NOT_FOUND;
    auto key = std::make_unique<OpenKey>();
    key->Path = path;
    std::lock_guard<std::mutex> lock(KeysLock);
    OpenKeys.insert(key.get());
    *phkResult = reinterpret_cast<HKEY>(key.release());
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                         LPDWORD lpcbData)
{
    if (lpReserved || (lpData && !lpcbData))
        return ERROR_INVALID_PARAMETER;
    std::string path;
    bool backed = true;
    if (const LSTATUS status = KeyPathOf(hKey, path, backed); status != ERROR_SUCCESS)
        return status;
    if (!backed)
        return ERROR_FILE_NOT_FOUND;
    const std::string name = LowerAscii(lpValueName ? lpValueName : "");
    const Lookup found = Search(path, &name);
    if (!found.ValueFound)
        return ERROR_FILE_NOT_FOUND;
    std::string data = found.Value.Data;
    if (found.Value.Type == REG_SZ)
        data += '\0';
    if (lpType)
        *lpType = found.Value.Type;
    if (!lpcbData)
        return ERROR_SUCCESS;
    const DWORD needed = static_cast<DWORD>(data.size());
    if (!lpData) {
        *lpcbData = needed;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < needed) {
        *lpcbData = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(lpData, data.data(), data.size());
    *lpcbData = needed;
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey)
{
    if (IsPredefined(hKey))
        return ERROR_SUCCESS;
    std::lock_guard<std::mutex> lock(KeysLock);
    auto* open = reinterpret_cast<OpenKey*>(hKey);
    if (!OpenKeys.erase(open))
        return ERROR_INVALID_HANDLE;
    delete open;
    return ERROR_SUCCESS;
}
