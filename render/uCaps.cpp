#include "render/uCaps.h"

#include "common/uFiles.h"
#include "common/uFormats.h"
#include "common/uMonitor.h"
#include "common/uStrings.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t kMaxModes = 1001;
constexpr std::size_t kMaxDisplayFormats = 4;

constexpr D3DFORMAT kDisplayFormats[] = {D3DFMT_X4R4G4B4, D3DFMT_X1R5G5B5, D3DFMT_R5G6B5, D3DFMT_X8R8G8B8};

constexpr D3DFORMAT kSurfaceFormats[] = {
    D3DFMT_R8G8B8,   D3DFMT_A8R8G8B8,    D3DFMT_X8R8G8B8,    D3DFMT_R5G6B5,   D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5,
    D3DFMT_A4R4G4B4, D3DFMT_R3G3B2,      D3DFMT_A8,          D3DFMT_A8R3G3B2, D3DFMT_X4R4G4B4, D3DFMT_A2B10G10R10,
    D3DFMT_A8P8,     D3DFMT_G16R16,      D3DFMT_P8,          D3DFMT_L8,       D3DFMT_A8L8,     D3DFMT_A4L4,
    D3DFMT_V8U8,     D3DFMT_L6V5U5,      D3DFMT_X8L8V8U8,    D3DFMT_Q8W8V8U8, D3DFMT_V16U16,   D3DFMT_W11V11U10,
    D3DFMT_A2W10V10U10, D3DFMT_UYVY,     D3DFMT_YUY2,        D3DFMT_DXT1,     D3DFMT_DXT2,     D3DFMT_DXT3,
    D3DFMT_DXT4,     D3DFMT_DXT5,        D3DFMT_D16_LOCKABLE, D3DFMT_D32,     D3DFMT_D15S1,    D3DFMT_D24S8,
    D3DFMT_D16,      D3DFMT_D24X8,       D3DFMT_D24X4S4,     D3DFMT_VERTEXDATA, D3DFMT_INDEX16, D3DFMT_INDEX32};
static_assert(sizeof(kSurfaceFormats) / sizeof(kSurfaceFormats[0]) == 42);

// The report is collected and appended in one write, as if the file were held open throughout.
class TReport {
public:
    void Line(const std::string& Text = std::string()) { Text_ += Text + "\r\n"; }
    void Append(const std::string& Text) { Text_ += Text; }
    bool WriteTo(const std::string& FileName)
    {
        // AppendTextLine adds the last CR LF itself.
        return AppendTextLine(FileName, Text_.substr(0, Text_.size() - 2));
    }

private:
    std::string Text_;
};

std::string Hex8(uint32_t Value)
{
    char Buffer[16];
    std::snprintf(Buffer, sizeof(Buffer), "$%08X", Value);
    return Buffer;
}

void WriteIdentity(TReport& R, IDirect3D8* D3D)
{
    D3DADAPTER_IDENTIFIER8 Id{};
    D3D->GetAdapterIdentifier(D3DADAPTER_DEFAULT, D3DENUM_NO_WHQL_LEVEL, &Id);
    Id.Description[MAX_DEVICE_IDENTIFIER_STRING - 1] = '\0';
    Id.Driver[MAX_DEVICE_IDENTIFIER_STRING - 1] = '\0';
    const uint32_t High = static_cast<uint32_t>(Id.DriverVersion.u.HighPart);
    const uint32_t Low = Id.DriverVersion.u.LowPart;
    R.Line("####  Adapter identifier:");
    R.Line(TrimBlanks(Id.Description));
    R.Line(TrimBlanks(Id.Driver));
    R.Line("DriverVersion: " + std::to_string(High >> 16) + "." + std::to_string(High & 0xFFFF) + "." +
           std::to_string(Low >> 16) + "." + std::to_string(Low & 0xFFFF));
}

void WriteModes(TReport& R, IDirect3D8* D3D)
{
    std::vector<D3DDISPLAYMODE> Modes;
    const UINT Count = D3D->GetAdapterModeCount(D3DADAPTER_DEFAULT);
    for (UINT i = 0; i < Count && Modes.size() < kMaxModes; ++i) {
        D3DDISPLAYMODE Mode{};
        D3D->EnumAdapterModes(D3DADAPTER_DEFAULT, i, &Mode);
        bool Seen = false;
        for (const D3DDISPLAYMODE& M : Modes)
            Seen = Seen || (M.Width == Mode.Width && M.Height == Mode.Height && M.Format == Mode.Format);
        if (!Seen)
            Modes.push_back(Mode);
    }
    R.Line("####  Display modes:");
    for (const D3DDISPLAYMODE& M : Modes)
        R.Line(PadRight(12, ' ', std::to_string(M.Width) + "x" + std::to_string(M.Height)) + FormatToName(M.Format));
}

void WriteCaps(TReport& R, IDirect3D8* D3D)
{
    D3DCAPS8 Caps{};
    D3D->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &Caps);
    uint32_t Words[sizeof(D3DCAPS8) / 4];
    std::memcpy(Words, &Caps, sizeof(Words));
    R.Line("####  D3D Caps:");
    std::string Text;
    for (std::size_t i = 0; i < sizeof(Words) / 4; ++i) {
        Text += Hex8(Words[i]);
        if (i % 10 == 9) {
            R.Line(Text);
            Text.clear();
        } else {
            Text += "  ";
        }
    }
    R.Line(Text);
}

std::string Row(const std::string& A, const std::string& B, const std::string& C, const std::string& D)
{
    return PadRight(16, ' ', A) + PadRight(16, ' ', B) + PadRight(10, ' ', C) + PadRight(10, ' ', D);
}

std::vector<D3DFORMAT> WriteDisplayFormats(TReport& R, IDirect3D8* D3D)
{
    std::vector<D3DFORMAT> Usable;
    R.Line("####  Display formats:");
    R.Line("Adapter     = D3DADAPTER_DEFAULT");
    R.Line("Device type = D3DDEVTYPE_HAL");
    R.Line(Row("  Display", "BackBuffer", "Windowed", "Result"));
    for (D3DFORMAT Display : kDisplayFormats) {
        for (D3DFORMAT Back : kDisplayFormats) {
            const bool FullScreen =
                SUCCEEDED(D3D->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, Display, Back, FALSE));
            if (FullScreen)
                R.Line(Row("  " + FormatToName(Display), FormatToName(Back), "  fs", "  Ok"));
            const bool Windowed =
                SUCCEEDED(D3D->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, Display, Back, TRUE));
            if (Windowed)
                R.Line(Row("  " + FormatToName(Display), FormatToName(Back), "  Win", "  Ok"));
            if ((FullScreen || Windowed) && (Usable.empty() || Usable.back() != Display) &&
                Usable.size() < kMaxDisplayFormats)
                Usable.push_back(Display);
        }
    }
    return Usable;
}

void WriteSupported(TReport& R, IDirect3D8* D3D, D3DFORMAT Display, DWORD Usage, D3DRESOURCETYPE Type)
{
    for (D3DFORMAT Format : kSurfaceFormats)
        if (SUCCEEDED(D3D->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, Display, Usage, Type, Format)))
            R.Line("      " + FormatToName(Format));
}

void WriteBackBufferFormats(TReport& R, IDirect3D8* D3D, const std::vector<D3DFORMAT>& Displays)
{
    R.Line("####  Back buffer formats:");
    for (D3DFORMAT Display : Displays) {
        R.Line("  Back: " + FormatToName(Display));
        R.Line("    Render target formats:");
        WriteSupported(R, D3D, Display, D3DUSAGE_RENDERTARGET, D3DRTYPE_SURFACE);
        R.Line("    Texture formats:");
        WriteSupported(R, D3D, Display, 0, D3DRTYPE_TEXTURE);
    }
}

}  // namespace

bool CreateD3D8(IDirect3D8*& D3D)
{
    D3D = Direct3DCreate8(D3D_SDK_VERSION);
    if (D3D)
        return true;
    ShowMessageBox("Direct3D8 interface creation failed\rPlease, install DirectX 8.1 or higher");
    return false;
}

void WriteAdapterReport(const std::string& FileName, IDirect3D8* D3D)
{
    if (!D3D)
        return;
    TReport R;
    R.Line();
    R.Line("//----------- START Adapter information -----------//");
    R.Line();
    WriteIdentity(R, D3D);
    R.Line();
    WriteModes(R, D3D);
    R.Line();
    WriteCaps(R, D3D);
    R.Line();
    const std::vector<D3DFORMAT> Displays = WriteDisplayFormats(R, D3D);
    R.Line();
    WriteBackBufferFormats(R, D3D, Displays);
    R.Line();
    R.Line("//------------- END Adapter information -----------//");
    R.Line();
    R.WriteTo(FileName);
}
