#include "platform/win/library.h"

#include "platform/win/windows.h"

#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>

namespace {

struct BuiltinLibrary {
    std::string Name;  // lower case, with extension
    std::vector<std::pair<std::string, void*>> Exports;
    int LoadCount = 0;
};

// Entries are never removed, so a handle (the entry's address) stays valid. The table is never
// destroyed either: statics elsewhere free their modules during exit, after this file's statics.
std::vector<std::unique_ptr<BuiltinLibrary>>& Libraries()
{
    static auto* libraries = new std::vector<std::unique_ptr<BuiltinLibrary>>;
    return *libraries;
}

int ProgramModuleTag;  // its address is the program's module handle

std::string LowerAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// Windows looks a module up by its file name; a name without extension means ".dll".
std::string ModuleKey(const std::string& name)
{
    std::string base = name;
    const std::size_t slash = base.find_last_of("\\/");
    if (slash != std::string::npos)
        base.erase(0, slash + 1);
    if (base.find('.') == std::string::npos)
        base += ".dll";
    else if (!base.empty() && base.back() == '.')
        base.pop_back();
    return LowerAscii(base);
}

BuiltinLibrary* Find(const std::string& name)
{
    const std::string key = ModuleKey(name);
    for (auto& library : Libraries())
        if (library->Name == key)
            return library.get();
    return nullptr;
}

BuiltinLibrary* FromHandle(HMODULE module)
{
    for (auto& library : Libraries())
        if (reinterpret_cast<HMODULE>(library.get()) == module)
            return library.get();
    return nullptr;
}

}  // namespace

namespace platform {

void RegisterBuiltinLibrary(const char* name, std::vector<std::pair<const char*, void*>> exports)
{
    if (!name || !*name)
        return;
    BuiltinLibrary* library = Find(name);
    if (!library) {
        Libraries().push_back(std::make_unique<BuiltinLibrary>());
        library = Libraries().back().get();
        library->Name = ModuleKey(name);
    }
    library->Exports.clear();
    for (const auto& [exportName, address] : exports)
        if (exportName)
            library->Exports.emplace_back(exportName, address);
}

}  // namespace platform

HMODULE LoadLibraryA(LPCSTR lpLibFileName)
{
    BuiltinLibrary* library = lpLibFileName ? Find(lpLibFileName) : nullptr;
    if (!library) {
        SetLastError(lpLibFileName ? ERROR_MOD_NOT_FOUND : ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    ++library->LoadCount;
    return reinterpret_cast<HMODULE>(library);
}

FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    BuiltinLibrary* library = FromHandle(hModule);
    if (!library) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // Values below 0x10000 are ordinals; the built-in libraries export by name only.
    if (reinterpret_cast<uintptr_t>(lpProcName) <= 0xFFFF) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    for (const auto& [name, address] : library->Exports)
        if (name == lpProcName)
            return reinterpret_cast<FARPROC>(address);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
}

BOOL FreeLibrary(HMODULE hLibModule)
{
    BuiltinLibrary* library = FromHandle(hLibModule);
    if (!library || library->LoadCount <= 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    --library->LoadCount;
    return TRUE;
}

HMODULE GetModuleHandleA(LPCSTR lpModuleName)
{
    if (!lpModuleName)
        return reinterpret_cast<HMODULE>(&ProgramModuleTag);
    BuiltinLibrary* library = Find(lpModuleName);
    if (!library || library->LoadCount <= 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(library);
}

DWORD GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    std::string path;
    if (!hModule || hModule == reinterpret_cast<HMODULE>(&ProgramModuleTag)) {
        char buffer[4096];
        const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n <= 0) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return 0;
        }
        path.assign(buffer, static_cast<std::size_t>(n));
    } else if (BuiltinLibrary* library = FromHandle(hModule)) {
        path = library->Name;
    } else {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (!lpFilename || nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= nSize) {
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}
