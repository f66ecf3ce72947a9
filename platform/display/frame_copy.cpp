#include "platform/display/frame_copy.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstring>

namespace platform::display {

void HeldFrame::Took(const Frame& frame, int width, int height) {
  source = frame.unchanged ? frame.unchanged->source : nullptr;
  sequence = frame.unchanged ? frame.unchanged->sequence : 0;
  w = width;
  h = height;
}

const UnchangedRuns* ReusableRuns(const HeldFrame& held, const Frame& frame, int w, int h) {
  const UnchangedRuns* u = frame.unchanged;
  if (!u || !u->flags || !u->source || u->runPixels <= 0 || u->source != held.source) return nullptr;
  if (u->sequence != held.sequence + 1 || w != held.w || h != held.h) return nullptr;
  return u->perRow >= (w + u->runPixels - 1) / u->runPixels ? u : nullptr;
}

void StreamCopy(char* dst, const void* from, std::size_t bytes) {
  const char* src = static_cast<const char*>(from);
  constexpr std::size_t kMin = 256;  // shorter copies gain nothing
  if (bytes < kMin) {
    std::memcpy(dst, src, bytes);
    return;
  }
  const std::size_t head = (16 - reinterpret_cast<std::uintptr_t>(dst) % 16) % 16;
  std::memcpy(dst, src, head);
  dst += head;
  src += head;
  bytes -= head;
  for (; bytes >= 64; bytes -= 64, dst += 64, src += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48));
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst), a);
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 16), b);
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 32), c);
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 48), d);
  }
  std::memcpy(dst, src, bytes);
}

void CopyChangedRuns(const UnchangedRuns& same, int y, int w, const std::uint32_t* src, char* row) {
  const std::uint8_t* flags = same.flags + std::size_t(y) * std::size_t(same.perRow);
  const int runs = (w + same.runPixels - 1) / same.runPixels;
  for (int r = 0; r < runs;) {
    if (flags[r] & same.bit) {
      ++r;
      continue;
    }
    const int first = r;
    while (r < runs && !(flags[r] & same.bit)) ++r;
    const int x0 = first * same.runPixels, x1 = std::min(w, r * same.runPixels);
    StreamCopy(row + std::size_t(x0) * 4, src + x0, std::size_t(x1 - x0) * 4);
  }
}

void CopyFrame(const Frame& frame, int w, int h, char* dst, std::size_t dstPitch, const UnchangedRuns* same) {
  for (int y = 0; y < h; ++y) {
    const auto* src = reinterpret_cast<const std::uint32_t*>(reinterpret_cast<const char*>(frame.pixels) +
                                                             std::size_t(y) * std::size_t(frame.pitchBytes));
    char* row = dst + std::size_t(y) * dstPitch;
    if (same)
      CopyChangedRuns(*same, y, w, src, row);
    else
      StreamCopy(row, src, std::size_t(w) * 4);
  }
  _mm_sfence();
}

}  // namespace platform::display
