// The options file reader, and the writer's round trip of whatever it read.
#include "app/uC.h"
#include "tools/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Isolate();
    fuzz::WriteInput("Options.txt", data, size);
    Options = TOptions{};
    if (LoadOptions()) {
        TOptions loaded = Options;
        SaveOptions();
        Options = TOptions{};
        LoadOptions();
        if (FormatOptions(Options) != FormatOptions(loaded))
            __builtin_trap();  // a saved file must load back to the same record
    }
    return 0;
}
