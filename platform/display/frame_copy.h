// Copying presented frames into a backend's own image: streamed past the caches, and only the
// runs that changed when the image already holds the frame before.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/display/display.h"

namespace platform::display {

// The frame an image holds in whole: its source, number and size (no source: unknown).
struct HeldFrame {
  const void* source = nullptr;
  std::uint64_t sequence = 0;
  int w = 0, h = 0;

  void Forget() { source = nullptr; }
  // The image now holds all of frame at w x h.
  void Took(const Frame& frame, int width, int height);
};

// frame's unchanged runs when the image holds the frame just before it from the same source,
// at the same size; nullptr when every pixel must be copied.
const UnchangedRuns* ReusableRuns(const HeldFrame& held, const Frame& frame, int w, int h);

// Stores that bypass the caches: the image is read long after (or by another process), and
// ordinary stores would first read every line of it and push the frame being drawn out of
// the cache. The caller fences (_mm_sfence) before another party reads the image.
void StreamCopy(char* dst, const void* src, std::size_t bytes);

// Row y's runs not marked unchanged, as few copies as possible.
void CopyChangedRuns(const UnchangedRuns& same, int y, int w, const std::uint32_t* src, char* row);

// The top-left w x h of frame (X8R8G8B8) into dst, rows dstPitch bytes apart; with same,
// only the changed runs. Fenced.
void CopyFrame(const Frame& frame, int w, int h, char* dst, std::size_t dstPitch, const UnchangedRuns* same);

}  // namespace platform::display
