// The command line: the mode letter and the window handle.
#include "app/uMain.h"
#include "app/uRunState.h"
#include "tools/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Isolate();
    std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t split = text.find('\0');
    std::string first = text.substr(0, split);
    std::string second = split == std::string::npos ? std::string() : text.substr(split + 1);
    SelectMode(first);
    ParseWindowHandle(second);
    ParseWindowHandle(first);
    return 0;
}
