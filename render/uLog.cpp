#include "render/uLog.h"

#include "app/uC.h"
#include "common/uFiles.h"
#include "common/uMonitor.h"

#include <cstdint>

namespace {

struct ResultText {
    uint32_t Code;
    const char* Text;
};

constexpr ResultText kResultTexts[] = {
    {0x00000000, "No error occurred."},
    {0x80004005, "An undetermined error occurred inside the Direct3D subsystem."},
    {0x8007000E, "Direct3D could not allocate sufficient memory to complete the call."},
    {0x80070057, "An invalid parameter was passed to the returning function"},
    {0x8876017C, "Direct3D does not have enough display memory to perform the operation."},
    {0x88760818, "The pixel format of the texture surface is not valid."},
    {0x88760819, "The device does not support a specified texture-blending operation for color values."},
    {0x8876081A, "The device does not support a specified texture-blending argument for color values."},
    {0x8876081B, "The device does not support a specified texture-blending operation for the alpha channel."},
    {0x8876081C, "The device does not support a specified texture-blending argument for the alpha channel."},
    {0x8876081D, "The application is requesting more texture-filtering operations than the device"},
    {0x8876081E, "The current texture filters cannot be used together."},
    {0x8876081F, "The device does not support the specified texture factor value."},
    {0x88760821, "The currently set render states cannot be used together."},
    {0x88760822, "The device does not support the specified texture filter."},
    {0x88760826, "The current textures cannot be used simultaneously. This generally occurs when a multitexture device "
                 "requires that all palletized textures simultaneously enabled also share the same palette."},
    {0x88760827, "Internal driver error."},
    {0x88760866, "The requested item was not found."},
    {0x88760867, "There is more data available than the specified buffer size can hold."},
    {0x88760868, "The device is lost and cannot be restored at the current time, so rendering is not possible."},
    {0x88760869, "The device cannot be reset."},
    {0x8876086A, "This device does not support the queried technique."},
    {0x8876086B, "The requested device type is not valid."},
    {0x8876086C, "The method call is invalid. For example, a method's parameter may have an invalid value."},
};

}  // namespace

std::string GetLogFileName()
{
    return DataDir + "\\" + "Error.log";
}

void WriteLog(const std::string& text)
{
    AppendTextLine(GetLogFileName(), text);
}

void ReportError(const std::string& text)
{
    WriteLog(text);
    DebugMessage(text);
}

void CheckResult(HRESULT code)
{
    if (code >= 0)
        return;
    const std::string text = GetD3DErrorText(code);
    WriteLog(text);
    DebugMessage(text);
}

std::string GetD3DErrorText(HRESULT code)
{
    const uint32_t value = static_cast<uint32_t>(code);
    for (const ResultText& entry : kResultTexts)
        if (entry.Code == value)
            return entry.Text;
    return "Unrecognized Error";
}
