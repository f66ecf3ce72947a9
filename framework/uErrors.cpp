#include "framework/uErrors.h"

#include "platform/d3d8/d3d8.h"

namespace {

struct TErrorText {
    HRESULT Code;
    const char* Text;
};

const TErrorText ErrorTexts[] = {
    {E_OUTOFMEMORY, "Not enough memory."},
    {D3DAPPERR_NODIRECT3D,
     "Could not initialize Direct3D. You may\nwant to check that the latest version of\nDirectX is correctly "
     "installed on your\nsystem.  Also make sure that this program\nwas compiled with header files that match\n"
     "the installed DirectX DLLs."},
    {D3DAPPERR_NOCOMPATIBLEDEVICES, "Could not find any compatible Direct3D\ndevices."},
    {D3DAPPERR_NOWINDOWABLEDEVICES,
     "This sample cannot run in a desktop\nwindow with the current display settings.\nPlease change your desktop "
     "settings to a\n16- or 32-bit display mode and re-run this\nsample."},
    {D3DAPPERR_NOHARDWAREDEVICE, "No hardware-accelerated Direct3D devices\nwere found."},
    {D3DAPPERR_HALNOTCOMPATIBLE,
     "This sample requires functionality that is\nnot available on your Direct3D hardware\naccelerator."},
    {D3DAPPERR_NOWINDOWEDHAL,
     "Your Direct3D hardware accelerator cannot\nrender into a window.\nPress F2 while the app is running to see a\n"
     "list of available devices and modes."},
    {D3DAPPERR_NODESKTOPHAL,
     "Your Direct3D hardware accelerator cannot\nrender into a window with the current\ndesktop display settings.\n"
     "Press F2 while the app is running to see a\nlist of available devices and modes."},
    {D3DAPPERR_NOHALTHISMODE,
     "This sample requires functionality that is\nnot available on your Direct3D hardware\naccelerator with the "
     "current desktop display\nsettings.\nPress F2 while the app is running to see a\nlist of available devices "
     "and modes."},
    {D3DAPPERR_NONZEROREFCOUNT,
     "A D3D object has a non-zero reference\ncount (meaning things were not properly\ncleaned up)."},
    {D3DAPPERR_MEDIANOTFOUND, "Could not load required media."},
    {D3DAPPERR_RESIZEFAILED, "Could not reset the Direct3D device."},
    {D3DAPPERR_NULLREFDEVICE,
     "Warning: Nothing will be rendered.\nThe reference rendering device was selected, but your\ncomputer only has "
     "a reduced-functionality reference device\ninstalled.  Install the DirectX SDK to get the full\nreference "
     "device.\n"},
    {D3DERR_OUTOFVIDEOMEMORY, "Not enough video memory."},
};

const char* const GenericText = "Generic application error. Enable\ndebug output for detailed information.";
const char* const ExitSuffix = "\n\nThis sample will now exit.";
const char* const SwitchSuffix =
    "\n\nSwitching to the reference rasterizer,\na software device that implements the entire\nDirect3D feature "
    "set, but runs very slowly.";

// The box's text buffer holds 512 characters including the terminator.
constexpr std::size_t MaxBoxText = 511;

}  // namespace

std::string ErrorMessageText(HRESULT code)
{
    for (const TErrorText& entry : ErrorTexts)
        if (entry.Code == code)
            return entry.Text;
    return GenericText;
}

std::string ErrorBoxText(HRESULT code, int kind)
{
    std::string text = ErrorMessageText(code);
    if (kind == ekExit)
        text += ExitSuffix;
    else if (kind == ekSwitchedToRef)
        text += SwitchSuffix;
    if (text.size() > MaxBoxText)
        text.resize(MaxBoxText);
    return text;
}
