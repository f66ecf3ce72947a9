// TGA files: the header reader and the pixel reader of the texture store.
#include "render/uTGA.h"
#include "tools/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Isolate();
    std::string path = fuzz::WriteInput("input.tga", data, size);
    std::uint8_t header[kTGAHeaderSize];
    ReadTGAHeader(path, header);
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
    if (LoadTGAPixels(path, width, height, pixels) &&
        pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        __builtin_trap();
    return 0;
}
