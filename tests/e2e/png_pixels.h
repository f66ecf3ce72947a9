#pragma once
// Decoded PNG pictures for comparing frames.

#include <cstdint>
#include <string>
#include <vector>

struct TPicture {
    int Width = 0, Height = 0;
    std::vector<uint32_t> Pixels;  // 0xAARRGGBB, top-down
};

bool ReadPng(const std::string& path, TPicture& out);

// An X window dump (xwd) of a TrueColor screen, 24 or 32 bits per pixel, ZPixmap.
bool ReadXwd(const std::string& path, TPicture& out);
