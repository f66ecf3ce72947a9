// Windows bitmaps, decoded and converted into TGA files as the desktop snapshot does.
#include "render/uTGA.h"
#include "tools/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Isolate();
    std::vector<std::uint8_t> file(data, data + size);
    int32_t width = 0, height = 0;
    std::vector<uint32_t> pixels;
    if (DecodeBMP(file, width, height, pixels) &&
        pixels.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        __builtin_trap();
    std::string path = fuzz::WriteInput("input.bmp", data, size);
    BitmapToTGA(path, fuzz::Scratch() + "/output.tga");
    return 0;
}
