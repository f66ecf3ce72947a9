// Win32 key codes for native keys: virtual keys from X keysyms, scan codes, lParam bits.
#pragma once

#include <cstdint>

namespace platform::display::keymap {

struct VirtualKey {
  unsigned vk = 0;        // 0: no virtual key for this keysym
  bool extended = false;  // lParam bit 24
};

// Looks up the unshifted keysym (index 0 of the keycode); shifted keysyms are accepted too.
VirtualKey FromKeysym(std::uint32_t keysym);

// Set-1 scan code of a virtual key on a US 102-key board, for keys that have no native
// scan code (the offscreen backend). Unknown keys give 0.
struct ScanCode {
  unsigned code = 0;
  bool extended = false;
};
ScanCode ScanCodeOf(unsigned vk);

// Scan code of an X keycode on an evdev server (keycode - 8 for 1..88); 0 outside.
unsigned ScanCodeOfKeycode(unsigned keycode);

// WM_SYSKEYDOWN/UP instead of WM_KEYDOWN/UP: the Alt key, F10 and anything while Alt is down.
bool IsSysKey(unsigned vk, bool altDown);

struct KeyState {
  unsigned scan = 0;
  bool extended = false;
  bool altDown = false;     // context bit, only for system keys
  bool wasDown = false;     // auto-repeat
  bool release = false;
};
std::uint32_t KeyLParam(const KeyState&);

// The character a key types, for keys that type one without a layout (offscreen input).
unsigned CharOf(unsigned vk);

}  // namespace platform::display::keymap
