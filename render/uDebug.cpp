#include "render/uDebug.h"

#include "common/uFormats.h"
#include "framework/uD3DGlobals.h"
#include "render/uLog.h"

#include <cstdint>
#include <string>

namespace {

// Held until replaced; released when the program ends.
struct TLastTexture {
    IDirect3DBaseTexture8* Texture = nullptr;
    ~TLastTexture() { Set(nullptr); }
    void Set(IDirect3DBaseTexture8* NewTexture)
    {
        if (NewTexture)
            NewTexture->AddRef();
        IDirect3DBaseTexture8* Old = Texture;
        Texture = NewTexture;
        if (Old)
            Old->Release();
    }
};
TLastTexture LastTexture;

std::string U(uint64_t Value) { return std::to_string(Value); }

// Without a device nothing can be called: the call fails like a call the device refuses.
void Report(HRESULT Result, const std::string& First, const std::string& Second)
{
    WriteLog(First);
    WriteLog(Second);
    CheckResult(Result);
}

}  // namespace

HRESULT SRS(DWORD State, DWORD Value)
{
    HRESULT Result = Device ? Device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(State), Value) : D3DERR_INVALIDCALL;
    if (FAILED(Result))
        Report(Result, "uDebug.SRS : Device.SetRenderState error", "State=" + U(State) + "; Value=" + U(Value));
    return Result;
}

HRESULT STSS(DWORD Stage, DWORD Type, DWORD Value)
{
    HRESULT Result = Device ? Device->SetTextureStageState(Stage, static_cast<D3DTEXTURESTAGESTATETYPE>(Type), Value)
                            : D3DERR_INVALIDCALL;
    if (FAILED(Result))
        Report(Result, "uDebug.STSS : Device.SetTextureStageState error",
               "Stage=" + U(Stage) + "; _Type=" + U(Type) + "; Value=" + U(Value));
    return Result;
}

HRESULT ST(DWORD Stage, IDirect3DBaseTexture8* Texture)
{
    if (Texture == LastTexture.Texture)
        return 0;
    HRESULT Result = Device ? Device->SetTexture(Stage, Texture) : D3DERR_INVALIDCALL;
    LastTexture.Set(Texture);
    if (FAILED(Result))
        Report(Result, "uDebug.ST : Device.SetTexture error",
               "Stage=" + U(Stage) + "; pTexture=" + U(reinterpret_cast<std::uintptr_t>(Texture)));
    return Result;
}

HRESULT ASB(DWORD Block)
{
    HRESULT Result = Device ? Device->ApplyStateBlock(Block) : D3DERR_INVALIDCALL;
    if (FAILED(Result))
        Report(Result, "uDebug.ASB : Device.ApplyStateBlock error", "Block=" + U(Block));
    return Result;
}

HRESULT CreateTextureDirect(UINT Width, UINT Height, UINT Levels, DWORD Usage, D3DFORMAT Format, D3DPOOL Pool,
                            IDirect3DTexture8** Texture)
{
    if (!Texture)
        return D3DERR_INVALIDCALL;
    *Texture = nullptr;
    HRESULT Result = Device ? Device->CreateTexture(Width, Height, Levels, Usage, Format, Pool, Texture)
                            : D3DERR_INVALIDCALL;
    if (FAILED(Result) || !*Texture) {
        const UINT VMem = Device ? Device->GetAvailableTextureMem() / 1024 : 0;
        const std::string Next = "; \r";
        ReportError("uDebug.CreateTextureDirect : Texture creation failed");
        ReportError("Width=" + U(Width) + Next + "Height=" + U(Height) + Next + "Levels=" + U(Levels) + Next +
                    "Usage=" + U(Usage) + Next + "Format=" + FormatToName(Format) + Next +
                    "Pool=" + U(static_cast<DWORD>(Pool)) + Next + "VMem=" + U(VMem));
        CheckResult(Result);
    }
    return Result;
}

IDirect3DBaseTexture8* GetLastTexture() { return LastTexture.Texture; }

void ReleaseLastTexture() { LastTexture.Set(nullptr); }
