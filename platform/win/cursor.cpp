// ShowCursor's display counter: the cursor is hidden over our windows while it is negative.

#include "platform/win/window_table.h"
#include "platform/win/windows.h"

namespace platform::win {
namespace {
int g_counter = 0;
bool Visible() { return g_counter >= 0; }
}  // namespace

void ApplyCursorTo(display::NativeId native)
{
    if (native && !Visible())
        Display().SetCursorVisible(native, false);
}

void ResetCursorForTests() { g_counter = 0; }

}  // namespace platform::win

using namespace platform::win;

int ShowCursor(BOOL show)
{
    const bool wasVisible = Visible();
    g_counter += show ? 1 : -1;
    if (Visible() != wasVisible && DisplayOpened())
        for (auto& [key, w] : Windows())
            if (w->alive && w->native)
                Display().SetCursorVisible(w->native, Visible());
    return g_counter;
}
