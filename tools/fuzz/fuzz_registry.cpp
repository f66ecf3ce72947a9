// The registry file: key lookup and value reads with every buffer size.
#include <vector>

#include "platform/win/windows.h"
#include "tools/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Isolate();
    fuzz::WriteInput("registry.reg", data, size);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\SOFTWARE\\[Tzo] Savers\\[Tzo] Halvora Screensaver\\Settings", 0,
                      KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD type = 0, needed = 0;
    if (RegQueryValueExA(key, "DataPath", nullptr, &type, nullptr, &needed) == ERROR_SUCCESS && needed < (1u << 20)) {
        std::vector<BYTE> buffer(needed + 1);
        DWORD got = needed;
        RegQueryValueExA(key, "DataPath", nullptr, &type, buffer.data(), &got);
        DWORD small = needed / 2;
        RegQueryValueExA(key, "DataPath", nullptr, &type, buffer.data(), &small);
    }
    RegCloseKey(key);
    return 0;
}
