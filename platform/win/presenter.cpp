#include "platform/win/presenter.h"

#include <utility>

namespace platform {
namespace {
std::function<bool(HWND, const PresentFrame&)>& Hook()
{
    static std::function<bool(HWND, const PresentFrame&)> hook;
    return hook;
}
}  // namespace

bool PresentToWindow(HWND window, const PresentFrame& frame)
{
    if (Hook())
        return Hook()(window, frame);
    return false;
}

bool GetWindowClientSize(HWND window, int& width, int& height)
{
    width = height = 0;
    return false;
}

void SetPresentHookForTests(std::function<bool(HWND, const PresentFrame&)> hook) { Hook() = std::move(hook); }

}  // namespace platform
