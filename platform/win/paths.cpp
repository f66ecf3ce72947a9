#include "platform/win/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <vector>

namespace platform {

namespace {

bool Exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool EqualNoCase(const char* a, const std::string& b)
{
    if (std::strlen(a) != b.size())
        return false;
    for (std::size_t i = 0; i < b.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

// Of several names differing only in case, the smallest in byte order wins, so
// the choice does not depend on the order of directory entries.
bool FindNoCase(const std::string& dir, const std::string& name, std::string& found)
{
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d)
        return false;
    bool any = false;
    while (const dirent* entry = readdir(d)) {
        if (EqualNoCase(entry->d_name, name) && (!any || found.compare(entry->d_name) > 0)) {
            found = entry->d_name;
            any = true;
        }
    }
    closedir(d);
    return any;
}

std::vector<std::string> SplitComponents(const std::string& path)
{
    std::vector<std::string> parts;
    std::string current;
    for (char c : path) {
        if (c == '\\' || c == '/') {
            if (!current.empty())
                parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty())
        parts.push_back(current);
    return parts;
}

}  // namespace

std::string ResolvePath(const std::string& winPath)
{
    std::string rest = winPath;
    bool absolute = false;
    if (rest.size() >= 2 && rest[1] == ':' && ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
        rest.erase(0, 2);
        absolute = true;
    }
    if (!rest.empty() && (rest[0] == '\\' || rest[0] == '/'))
        absolute = true;

    const std::vector<std::string> parts = SplitComponents(rest);
    std::string result = absolute ? "/" : "";
    bool searching = true;  // once a component is missing, nothing below it can exist
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        std::string name = part;
        if (searching && part != "." && part != "..") {
            if (!Exists(result + part)) {
                std::string match;
                if (FindNoCase(result, part, match))
                    name = match;
                else
                    searching = false;
            }
        }
        result += name;
        if (i + 1 < parts.size())
            result += '/';
    }
    if (result.empty() && !winPath.empty())
        return ".";
    return result;
}

}  // namespace platform
