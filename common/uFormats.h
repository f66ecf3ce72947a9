#pragma once
// Direct3D format names and pixel depths; also the format vocabulary of the options file.

#include <cstdint>
#include <string>

std::string FormatToName(uint32_t format);
uint32_t NameToFormat(const std::string& name);
int32_t FormatBitDepth(uint32_t format);
int32_t BytesPerPixel(uint32_t format);
