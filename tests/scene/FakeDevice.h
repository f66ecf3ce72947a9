#pragma once
// A recording stand-in for the Direct3D device: state calls are journaled (and gathered
// per state block while recording), vertex buffers and textures keep their bytes in
// memory, and creation or locking can be made to fail. It draws nothing.

#include "framework/uD3DGlobals.h"
#include "platform/d3d8/d3d8.h"
#include "render/uDebug.h"

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace scenetest {

struct StateCall {
    enum Kind { Render, StageState, Texture } What;
    DWORD Stage;
    DWORD State;
    DWORD Value;
    bool operator==(const StateCall&) const = default;
};

template <class Base>
class FakeUnknown : public Base {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++Refs; }
    ULONG Release() override
    {
        const ULONG n = --Refs;
        if (n == 0)
            delete this;
        return n;
    }
    ULONG Refs = 1;
    virtual ~FakeUnknown() = default;
};

template <class Base>
class FakeResource : public FakeUnknown<Base> {
public:
    HRESULT GetDevice(IDirect3DDevice8** d) override
    {
        *d = nullptr;
        return D3DERR_INVALIDCALL;
    }
    DWORD SetPriority(DWORD) override { return 0; }
    DWORD GetPriority() override { return 0; }
    void PreLoad() override {}
};

class FakeVertexBuffer : public FakeResource<IDirect3DVertexBuffer8> {
public:
    explicit FakeVertexBuffer(UINT length, std::shared_ptr<int> alive) : Bytes(length), Alive(alive) { ++*Alive; }
    ~FakeVertexBuffer() override { --*Alive; }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_VERTEXBUFFER; }
    HRESULT Lock(UINT offset, UINT size, BYTE** data, DWORD) override
    {
        LastLockSize = size;
        ++Locks;
        *data = Bytes.data() + offset;
        return D3D_OK;
    }
    HRESULT Unlock() override { return D3D_OK; }
    HRESULT GetDesc(D3DVERTEXBUFFER_DESC* d) override
    {
        *d = {};
        d->Size = static_cast<UINT>(Bytes.size());
        return D3D_OK;
    }
    std::vector<BYTE> Bytes;
    UINT LastLockSize = 0;
    int Locks = 0;
    std::shared_ptr<int> Alive;
};

class FakeTexture : public FakeResource<IDirect3DTexture8> {
public:
    FakeTexture(UINT w, UINT h, UINT bytesPerPixel, std::shared_ptr<int> alive, bool failLock)
        : Width(w), Height(h), Pitch(w * bytesPerPixel + 16), Bits(size_t(Pitch) * h, 0xEE), Alive(alive),
          FailLock(failLock)
    {
        ++*Alive;
    }
    ~FakeTexture() override { --*Alive; }
    D3DRESOURCETYPE GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD SetLOD(DWORD) override { return 0; }
    DWORD GetLOD() override { return 0; }
    DWORD GetLevelCount() override { return 1; }
    HRESULT GetLevelDesc(UINT, D3DSURFACE_DESC* d) override
    {
        *d = {};
        d->Width = Width;
        d->Height = Height;
        return D3D_OK;
    }
    HRESULT GetSurfaceLevel(UINT, IDirect3DSurface8** s) override
    {
        *s = nullptr;
        return D3DERR_INVALIDCALL;
    }
    HRESULT LockRect(UINT level, D3DLOCKED_RECT* r, const RECT*, DWORD) override
    {
        if (FailLock || level != 0 || Locked)
            return D3DERR_INVALIDCALL;
        Locked = true;
        r->Pitch = static_cast<INT>(Pitch);
        r->pBits = Bits.data();
        return D3D_OK;
    }
    HRESULT UnlockRect(UINT) override
    {
        if (!Locked)
            return D3DERR_INVALIDCALL;
        Locked = false;
        return D3D_OK;
    }
    HRESULT AddDirtyRect(const RECT*) override { return D3D_OK; }

    UINT Width, Height, Pitch;
    std::vector<BYTE> Bits;
    std::shared_ptr<int> Alive;
    bool FailLock;
    bool Locked = false;
};

class FakeDevice : public FakeUnknown<IDirect3DDevice8> {
public:
    // Installs itself as the global device for its lifetime.
    FakeDevice()
    {
        Saved = ::Device;
        ::Device = this;
    }
    ~FakeDevice() override
    {
        ST(0, nullptr);  // the texture cache must not outlive this device
        ::Device = Saved;
    }

    // Owned by the test, not by reference counts.
    ULONG Release() override { return --Refs; }

    HRESULT TestCooperativeLevel() override { return D3D_OK; }
    UINT GetAvailableTextureMem() override { return 256u << 20; }
    HRESULT GetDirect3D(IDirect3D8** p) override { *p = nullptr; return D3DERR_INVALIDCALL; }
    HRESULT GetDeviceCaps(D3DCAPS8* c) override { *c = {}; return D3D_OK; }
    HRESULT GetDisplayMode(D3DDISPLAYMODE* m) override { *m = {}; return D3D_OK; }
    HRESULT GetCreationParameters(D3DDEVICE_CREATION_PARAMETERS* p) override { *p = {}; return D3D_OK; }
    HRESULT Reset(D3DPRESENT_PARAMETERS*) override { return D3D_OK; }
    HRESULT Present(const RECT*, const RECT*, HWND, const void*) override { return D3D_OK; }
    HRESULT GetBackBuffer(UINT, D3DBACKBUFFER_TYPE, IDirect3DSurface8** s) override { *s = nullptr; return D3DERR_INVALIDCALL; }
    HRESULT CreateTexture(UINT w, UINT h, UINT levels, DWORD, D3DFORMAT format, D3DPOOL, IDirect3DTexture8** t) override
    {
        Journal.push_back("CreateTexture " + std::to_string(w) + "x" + std::to_string(h) + " levels " +
                          std::to_string(levels));
        *t = nullptr;
        if (FailCreateTexture)
            return FailCreateTexture;
        if (CreateTextureReturnsNone)
            return D3D_OK;
        const UINT bytes = (format == D3DFMT_A8R8G8B8 || format == D3DFMT_X8R8G8B8) ? 4 : 2;
        auto* tex = new FakeTexture(w, h, bytes, LiveTextures, FailLockRect);
        Textures.push_back(tex);
        *t = tex;
        return D3D_OK;
    }
    HRESULT CreateVertexBuffer(UINT length, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer8** vb) override
    {
        Journal.push_back("CreateVertexBuffer " + std::to_string(length));
        auto* b = new FakeVertexBuffer(length, LiveBuffers);
        Buffers.push_back(b);
        *vb = b;
        return D3D_OK;
    }
    HRESULT CreateRenderTarget(UINT, UINT, D3DFORMAT, D3DMULTISAMPLE_TYPE, BOOL, IDirect3DSurface8** s) override { *s = nullptr; return D3DERR_INVALIDCALL; }
    HRESULT CreateImageSurface(UINT, UINT, D3DFORMAT, IDirect3DSurface8** s) override { *s = nullptr; return D3DERR_INVALIDCALL; }
    HRESULT SetRenderTarget(IDirect3DSurface8*, IDirect3DSurface8*) override { return D3D_OK; }
    HRESULT GetRenderTarget(IDirect3DSurface8** s) override { *s = nullptr; return D3DERR_INVALIDCALL; }
    HRESULT GetDepthStencilSurface(IDirect3DSurface8** s) override { *s = nullptr; return D3DERR_NOTFOUND; }
    HRESULT BeginScene() override { return D3D_OK; }
    HRESULT EndScene() override { return D3D_OK; }
    HRESULT Clear(DWORD, const D3DRECT*, DWORD, D3DCOLOR, float, DWORD) override { return D3D_OK; }
    HRESULT SetTransform(D3DTRANSFORMSTATETYPE s, const D3DMATRIX* m) override
    {
        Journal.push_back("SetTransform " + std::to_string(s));
        LastWorld = *m;
        return D3D_OK;
    }
    HRESULT GetTransform(D3DTRANSFORMSTATETYPE, D3DMATRIX* m) override { *m = LastWorld; return D3D_OK; }
    HRESULT SetViewport(const D3DVIEWPORT8*) override { return D3D_OK; }
    HRESULT GetViewport(D3DVIEWPORT8* v) override { *v = {}; return D3D_OK; }
    HRESULT SetMaterial(const D3DMATERIAL8*) override { return D3D_OK; }
    HRESULT GetMaterial(D3DMATERIAL8* m) override { *m = {}; return D3D_OK; }
    HRESULT SetLight(DWORD, const D3DLIGHT8*) override { return D3D_OK; }
    HRESULT GetLight(DWORD, D3DLIGHT8*) override { return D3DERR_INVALIDCALL; }
    HRESULT LightEnable(DWORD, BOOL) override { return D3D_OK; }
    HRESULT GetLightEnable(DWORD, BOOL*) override { return D3DERR_INVALIDCALL; }
    HRESULT SetRenderState(D3DRENDERSTATETYPE s, DWORD v) override
    {
        Record({StateCall::Render, 0, s, v});
        return D3D_OK;
    }
    HRESULT GetRenderState(D3DRENDERSTATETYPE, DWORD* v) override { *v = 0; return D3D_OK; }
    HRESULT BeginStateBlock() override
    {
        if (Recording)
            return D3DERR_INVALIDCALL;
        Recording = true;
        Current.clear();
        return D3D_OK;
    }
    HRESULT EndStateBlock(DWORD* token) override
    {
        if (!Recording)
            return D3DERR_INVALIDCALL;
        Recording = false;
        *token = NextToken++;
        Blocks[*token] = Current;
        return D3D_OK;
    }
    HRESULT ApplyStateBlock(DWORD token) override
    {
        Journal.push_back("ApplyStateBlock " + std::to_string(token));
        return Blocks.count(token) ? D3D_OK : D3DERR_INVALIDCALL;
    }
    HRESULT CaptureStateBlock(DWORD) override { return D3D_OK; }
    HRESULT DeleteStateBlock(DWORD token) override
    {
        Deleted.push_back(token);
        return Blocks.erase(token) ? D3D_OK : D3DERR_INVALIDCALL;
    }
    HRESULT CreateStateBlock(D3DSTATEBLOCKTYPE, DWORD*) override { return D3DERR_INVALIDCALL; }
    HRESULT GetTexture(DWORD, IDirect3DBaseTexture8** t) override { *t = nullptr; return D3D_OK; }
    HRESULT SetTexture(DWORD stage, IDirect3DBaseTexture8* t) override
    {
        Record({StateCall::Texture, stage, 0, static_cast<DWORD>(reinterpret_cast<uintptr_t>(t))});
        return D3D_OK;
    }
    HRESULT GetTextureStageState(DWORD, D3DTEXTURESTAGESTATETYPE, DWORD* v) override { *v = 0; return D3D_OK; }
    HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE s, DWORD v) override
    {
        Record({StateCall::StageState, stage, s, v});
        return D3D_OK;
    }
    HRESULT ValidateDevice(DWORD* n) override { *n = 1; return D3D_OK; }
    HRESULT DrawPrimitive(D3DPRIMITIVETYPE t, UINT start, UINT count) override
    {
        Journal.push_back("DrawPrimitive " + std::to_string(t) + " " + std::to_string(start) + " " +
                          std::to_string(count));
        return D3D_OK;
    }
    HRESULT DrawPrimitiveUP(D3DPRIMITIVETYPE, UINT, const void*, UINT) override { return D3D_OK; }
    HRESULT SetVertexShader(DWORD h) override
    {
        Journal.push_back("SetVertexShader " + std::to_string(h));
        return D3D_OK;
    }
    HRESULT GetVertexShader(DWORD* h) override { *h = 0; return D3D_OK; }
    HRESULT SetStreamSource(UINT n, IDirect3DVertexBuffer8*, UINT stride) override
    {
        Journal.push_back("SetStreamSource " + std::to_string(n) + " " + std::to_string(stride));
        return D3D_OK;
    }
    HRESULT GetStreamSource(UINT, IDirect3DVertexBuffer8** b, UINT* s) override { *b = nullptr; *s = 0; return D3D_OK; }

    void Record(const StateCall& c)
    {
        if (Recording)
            Current.push_back(c);
        else
            Calls.push_back(c);
    }

    std::vector<std::string> Journal;
    std::vector<StateCall> Calls;  // outside any recording
    std::map<DWORD, std::vector<StateCall>> Blocks;
    std::vector<DWORD> Deleted;
    std::vector<FakeTexture*> Textures;
    std::vector<FakeVertexBuffer*> Buffers;
    D3DMATRIX LastWorld = {};
    std::shared_ptr<int> LiveTextures = std::make_shared<int>(0);
    std::shared_ptr<int> LiveBuffers = std::make_shared<int>(0);
    HRESULT FailCreateTexture = D3D_OK;
    bool CreateTextureReturnsNone = false;
    bool FailLockRect = false;

private:
    IDirect3DDevice8* Saved = nullptr;
    bool Recording = false;
    std::vector<StateCall> Current;
    DWORD NextToken = 1;
};

}  // namespace scenetest
