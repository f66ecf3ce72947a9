// UV files: the table reader must stay inside the table whatever the file holds.
#include "render/uTex.h"
#include "tools/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Isolate();
    const std::string path = fuzz::WriteInput("input.uv", data, size);
    static UVRect table[kUVCapacity];
    int32_t count = -1;
    if (LoadUVFromFile(path, table, count) && (count < 0 || count > kUVCapacity))
        __builtin_trap();
    return 0;
}
