#include "platform/win/profile.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <vector>

// The install layout, as configured; a build without one is never installed.
#ifndef HALVORA_INSTALL_PROGRAM_DIR
#define HALVORA_INSTALL_PROGRAM_DIR ""
#define HALVORA_INSTALL_SYSCONF_DIR ""
#define HALVORA_INSTALL_DATA_DIR ""
#endif

namespace platform {

namespace {

// A machine folder this deep or this full is not the program's data.
constexpr int kMaxSeedDepth = 8;
constexpr int kMaxSeedEntries = 4096;

std::mutex RootLock;
std::optional<std::string> RootForTests;

std::optional<std::string> InstallRoot()
{
    {
        std::lock_guard<std::mutex> lock(RootLock);
        if (RootForTests)
            return RootForTests;
    }
    return InstallRootOf(ProgramFolder());
}

std::string UnderRoot(const char* configured)
{
    const std::optional<std::string> root = InstallRoot();
    if (!root || !*configured)
        return std::string();
    return *root + configured + "/halvora";
}

std::string Canonical(const std::string& path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) ? std::string(buffer) : std::string();
}

bool IsFolder(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> EntriesOf(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// A missing entry, or a link whose file is gone, gets a link to Target.
bool LinkUnlessOwn(const std::string& target, const std::string& link)
{
    struct stat st;
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode) || ::stat(link.c_str(), &st) == 0)
            return true;
        if (::unlink(link.c_str()) != 0)
            return false;
    } else if (errno != ENOENT) {
        return false;
    }
    return ::symlink(target.c_str(), link.c_str()) == 0 || errno == EEXIST;
}

bool SeedTree(const std::string& machine, const std::string& user, int depth, int& budget);

// A real folder of the user's for a folder of the machine's; something else there is the user's.
bool SeedSubfolder(const std::string& from, const std::string& to, int depth, int& budget)
{
    if (depth >= kMaxSeedDepth)
        return false;
    struct stat own;
    if (::lstat(to.c_str(), &own) == 0) {
        if (!S_ISDIR(own.st_mode))
            return true;
    } else if (::mkdir(to.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    return SeedTree(from, to, depth + 1, budget);
}

bool SeedTree(const std::string& machine, const std::string& user, int depth, int& budget)
{
    bool ok = true;
    for (const std::string& name : EntriesOf(machine)) {
        if (--budget < 0)
            return false;
        const std::string from = machine + "/" + name;
        const std::string to = user + "/" + name;
        struct stat st;
        if (::lstat(from.c_str(), &st) != 0)
            continue;
        // Folders are walked as they are, never through links, so nothing loops.
        if (S_ISDIR(st.st_mode))
            ok = SeedSubfolder(from, to, depth, budget) && ok;
        else if (S_ISREG(st.st_mode) || (S_ISLNK(st.st_mode) && ::stat(from.c_str(), &st) == 0 && S_ISREG(st.st_mode)))
            ok = LinkUnlessOwn(from, to) && ok;
    }
    return ok;
}

std::string FolderNamed(const std::string& name)
{
    if (name == "HOME")
        return UserHome();
    if (name == "XDG_CONFIG_HOME")
        return UserBaseFolder(UserFolderKind::Config);
    if (name == "XDG_DATA_HOME")
        return UserBaseFolder(UserFolderKind::Data);
    if (name == "XDG_STATE_HOME")
        return UserBaseFolder(UserFolderKind::State);
    return std::string();
}

}  // namespace

std::string ProgramFolder()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return std::string();
    const std::string path(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string InstalledProgramFolder() { return HALVORA_INSTALL_PROGRAM_DIR; }

std::optional<std::string> InstallRootOf(const std::string& programFolder)
{
    const std::string installed = InstalledProgramFolder();
    if (installed.empty() || installed[0] != '/' || programFolder.size() < installed.size() ||
        programFolder.compare(programFolder.size() - installed.size(), installed.size(), installed) != 0)
        return std::nullopt;
    return programFolder.substr(0, programFolder.size() - installed.size());
}

std::string MachineConfigFolder() { return UnderRoot(HALVORA_INSTALL_SYSCONF_DIR); }
std::string MachineDataFolder() { return UnderRoot(HALVORA_INSTALL_DATA_DIR); }

void SetInstallRootForTests(std::optional<std::string> root)
{
    std::lock_guard<std::mutex> lock(RootLock);
    RootForTests = std::move(root);
}

std::string UserHome()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    struct passwd entry;
    struct passwd* found = nullptr;
    std::vector<char> buffer(16 * 1024);
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir)
        return found->pw_dir;
    return std::string();
}

std::string UserBaseFolder(UserFolderKind kind)
{
    struct Rule {
        const char* Variable;
        const char* BelowHome;
    };
    static const Rule rules[] = {
        {"XDG_CONFIG_HOME", "/.config"}, {"XDG_DATA_HOME", "/.local/share"}, {"XDG_STATE_HOME", "/.local/state"}};
    const Rule& rule = rules[static_cast<int>(kind)];
    // Relative values are invalid, and ignored, by the base directory rules.
    if (const char* value = std::getenv(rule.Variable); value && value[0] == '/')
        return value;
    const std::string home = UserHome();
    return home.empty() ? std::string() : home + rule.BelowHome;
}

std::string UserDataFolder()
{
    const std::string base = UserBaseFolder(UserFolderKind::Data);
    return base.empty() ? std::string() : base + "/halvora";
}

bool MakeFolders(const std::string& path)
{
    for (std::size_t i = 1; i <= path.size(); ++i)
        if (i == path.size() || path[i] == '/')
            if (::mkdir(path.substr(0, i).c_str(), 0700) != 0 && errno != EEXIST)
                return false;
    return IsFolder(path);
}

bool SeedFolder(const std::string& machine, const std::string& user)
{
    if (!IsFolder(machine) || !MakeFolders(user))
        return false;
    const std::string from = Canonical(machine);
    if (from.empty() || from == Canonical(user))
        return true;
    int budget = kMaxSeedEntries;
    return SeedTree(from, user, 0, budget);
}

void PrepareUserDataFolder()
{
    static std::once_flag once;
    std::call_once(once, [] {
        const std::string machine = MachineDataFolder();
        const std::string user = UserDataFolder();
        if (!machine.empty() && !user.empty() && IsFolder(machine))
            SeedFolder(machine, user);
    });
}

std::string ExpandUserFolders(const std::string& text)
{
    std::string out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t open = text.find('%', pos);
        const std::size_t close = open == std::string::npos ? std::string::npos : text.find('%', open + 1);
        if (close == std::string::npos) {
            out.append(text, pos, std::string::npos);
            break;
        }
        out.append(text, pos, open - pos);
        const std::string folder = FolderNamed(text.substr(open + 1, close - open - 1));
        if (folder.empty()) {
            // Not ours: keep the text, and let its closing '%' open the next reference.
            out.append(text, open, close - open);
            pos = close;
        } else {
            out += folder;
            pos = close + 1;
        }
    }
    return out;
}

}  // namespace platform
