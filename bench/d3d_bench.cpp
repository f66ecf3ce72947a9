// The screensaver's three heavy draws measured through the Direct3D 8 interface: what the
// front end adds to the back end is the difference to the raster's own benchmarks.
#include "platform/d3d8/d3d8.h"
#include "platform/win/presenter.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr UINT kWidth = 1920, kHeight = 1080;

struct Vertex {  // D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1, the particles' vertex kind
    float x, y, z;
    D3DCOLOR color;
    float u, v;
};
constexpr DWORD kFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct TLVertex {  // D3DFVF_XYZRHW | D3DFVF_DIFFUSE
    float x, y, z, rhw;
    D3DCOLOR color;
};
constexpr DWORD kTLFvf = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;

class Scene {
public:
    Scene()
    {
        setenv("HALVORA_DISPLAY", "offscreen", 0);
        platform::SetPresentHookForTests([](HWND, const platform::PresentFrame&) { return true; });
        d3d = Direct3DCreate8(D3D_SDK_VERSION);
        D3DPRESENT_PARAMETERS p{};
        p.BackBufferWidth = kWidth;
        p.BackBufferHeight = kHeight;
        p.BackBufferFormat = D3DFMT_X8R8G8B8;
        p.SwapEffect = D3DSWAPEFFECT_COPY;
        p.hDeviceWindow = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0xBE));
        p.Windowed = TRUE;
        if (!d3d ||
            FAILED(d3d->CreateDevice(0, D3DDEVTYPE_HAL, p.hDeviceWindow, D3DCREATE_SOFTWARE_VERTEXPROCESSING, &p,
                                     &device)))
            device = nullptr;
        if (device)
            SetUpStates();
    }
    ~Scene()
    {
        if (texture)
            texture->Release();
        if (device)
            device->Release();
        if (d3d)
            d3d->Release();
        platform::SetPresentHookForTests(nullptr);
    }
    bool Ready() const { return device != nullptr; }

    // A pixel-sized world: the camera at z = -1 with a quarter-turn field of view sees
    // x in [-W/H, W/H] and y in [-1, 1].
    void SetUpStates()
    {
        D3DMATRIX identity{}, view{}, projection{};
        for (int i = 0; i < 4; ++i)
            identity.m[i][i] = view.m[i][i] = 1.0f;
        view.m[3][2] = 1.0f;
        projection.m[0][0] = float(kHeight) / float(kWidth);
        projection.m[1][1] = 1.0f;
        projection.m[2][2] = 1.0f;
        projection.m[2][3] = 1.0f;
        device->SetTransform(D3DTS_WORLD, &identity);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);

        device->CreateTexture(64, 64, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture);
        D3DLOCKED_RECT locked{};
        if (texture && SUCCEEDED(texture->LockRect(0, &locked, nullptr, 0))) {
            for (int y = 0; y < 64; ++y) {
                auto* row = reinterpret_cast<std::uint32_t*>(static_cast<std::uint8_t*>(locked.pBits) + y * locked.Pitch);
                for (int x = 0; x < 64; ++x) {
                    const float d = std::hypot(x - 31.5f, y - 31.5f) / 32.0f;
                    const auto a = static_cast<std::uint32_t>(255.0f * std::fmax(0.0f, 1.0f - d));
                    row[x] = (a << 24) | 0x00FFC080;
                }
            }
            texture->UnlockRect(0);
        }
    }

    // Additive, texture x vertex colour and alpha: the particle layers' blend.
    void UseParticleStates()
    {
        device->SetTexture(0, texture);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
        device->SetVertexShader(kFvf);
    }

    // Vertex colour and alpha over what is there: the trails' overlay.
    void UseOverlayStates()
    {
        device->SetTexture(0, nullptr);
        device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->SetVertexShader(kTLFvf);
    }

    IDirect3DVertexBuffer8* Buffer(const void* data, UINT bytes)
    {
        IDirect3DVertexBuffer8* vb = nullptr;
        BYTE* p = nullptr;
        if (FAILED(device->CreateVertexBuffer(bytes, D3DUSAGE_WRITEONLY, 0, D3DPOOL_MANAGED, &vb)) ||
            FAILED(vb->Lock(0, 0, &p, 0)))
            return vb;
        std::memcpy(p, data, bytes);
        vb->Unlock();
        return vb;
    }

    IDirect3D8* d3d = nullptr;
    IDirect3DDevice8* device = nullptr;
    IDirect3DTexture8* texture = nullptr;
};

// Two triangles of a quad centred on (cx, cy) in world units, half size h.
void AddQuad(std::vector<Vertex>& out, float cx, float cy, float h, D3DCOLOR color)
{
    const Vertex a{cx - h, cy + h, 0, color, 0, 0}, b{cx + h, cy + h, 0, color, 1, 0};
    const Vertex c{cx - h, cy - h, 0, color, 0, 1}, d{cx + h, cy - h, 0, color, 1, 1};
    out.insert(out.end(), {a, b, c, c, b, d});
}

float WorldUnitsOf(float pixels) { return pixels * 2.0f / float(kHeight); }

void DrawQuads(benchmark::State& state, const std::vector<Vertex>& vertices, std::int64_t pixelsPerDraw)
{
    Scene scene;
    if (!scene.Ready()) {
        state.SkipWithError("no device");
        return;
    }
    IDirect3DVertexBuffer8* vb = scene.Buffer(vertices.data(), UINT(vertices.size() * sizeof(Vertex)));
    scene.UseParticleStates();
    scene.device->SetStreamSource(0, vb, sizeof(Vertex));
    const UINT triangles = UINT(vertices.size() / 3);
    scene.device->BeginScene();
    for (auto _ : state)
        benchmark::DoNotOptimize(scene.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles));
    scene.device->EndScene();
    state.counters["pixels/s"] =
        benchmark::Counter(double(pixelsPerDraw), benchmark::Counter::kIsIterationInvariantRate);
    scene.device->SetStreamSource(0, nullptr, 0);
    vb->Release();
}

void BM_Device_ParticleQuad40(benchmark::State& state)
{
    std::vector<Vertex> quad;
    AddQuad(quad, 0.1f, 0.05f, WorldUnitsOf(20.0f), 0xC0FFFFFF);
    DrawQuads(state, quad, 40 * 40);
}
BENCHMARK(BM_Device_ParticleQuad40);

void BM_Device_ParticleQuads16384(benchmark::State& state)
{
    std::vector<Vertex> quads;
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return float(seed >> 8) / float(1u << 24);
    };
    const float aspect = float(kWidth) / float(kHeight);
    for (int i = 0; i < 16384; ++i)
        AddQuad(quads, (next() * 1.8f - 0.9f) * aspect, next() * 1.8f - 0.9f, WorldUnitsOf(4.0f + 12.0f * next()),
                0x80FFFFFF);
    DrawQuads(state, quads, std::int64_t(16384) * 20 * 20);
}
BENCHMARK(BM_Device_ParticleQuads16384)->Unit(benchmark::kMillisecond);

void BM_Device_FullScreenAlphaRect(benchmark::State& state)
{
    Scene scene;
    if (!scene.Ready()) {
        state.SkipWithError("no device");
        return;
    }
    const D3DCOLOR c = 0x20000000;
    const float w = float(kWidth) - 0.5f, h = float(kHeight) - 0.5f;
    const TLVertex rect[4] = {{-0.5f, -0.5f, 0, 1, c}, {w, -0.5f, 0, 1, c}, {-0.5f, h, 0, 1, c}, {w, h, 0, 1, c}};
    IDirect3DVertexBuffer8* vb = scene.Buffer(rect, sizeof(rect));
    scene.UseOverlayStates();
    scene.device->SetStreamSource(0, vb, sizeof(TLVertex));
    scene.device->BeginScene();
    for (auto _ : state)
        benchmark::DoNotOptimize(scene.device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2));
    scene.device->EndScene();
    state.counters["pixels/s"] =
        benchmark::Counter(double(kWidth) * kHeight, benchmark::Counter::kIsIterationInvariantRate);
    scene.device->SetStreamSource(0, nullptr, 0);
    vb->Release();
}
BENCHMARK(BM_Device_FullScreenAlphaRect)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// Per-object work of the scene without pixels: two state blocks, the world transform and a
// draw whose one triangle lies outside the screen.
void BM_Device_StateSwitchAndEmptyDraw(benchmark::State& state)
{
    Scene scene;
    if (!scene.Ready()) {
        state.SkipWithError("no device");
        return;
    }
    std::vector<Vertex> offscreen;
    AddQuad(offscreen, 50.0f, 50.0f, 0.01f, 0xFFFFFFFF);
    IDirect3DVertexBuffer8* vb = scene.Buffer(offscreen.data(), UINT(offscreen.size() * sizeof(Vertex)));
    DWORD blended = 0, filtered = 0;
    scene.device->BeginStateBlock();
    scene.UseParticleStates();
    scene.device->EndStateBlock(&blended);
    scene.device->BeginStateBlock();
    scene.device->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    scene.device->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    scene.device->EndStateBlock(&filtered);
    D3DMATRIX world{};
    for (int i = 0; i < 4; ++i)
        world.m[i][i] = 1.0f;
    scene.device->BeginScene();
    float shift = 0.0f;
    for (auto _ : state) {
        scene.device->SetStreamSource(0, vb, sizeof(Vertex));
        scene.device->SetVertexShader(kFvf);
        scene.device->ApplyStateBlock(blended);
        scene.device->ApplyStateBlock(filtered);
        world.m[3][0] = shift;
        shift = shift == 0.0f ? 0.001f : 0.0f;
        scene.device->SetTransform(D3DTS_WORLD, &world);
        benchmark::DoNotOptimize(scene.device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, 1));
    }
    scene.device->EndScene();
    scene.device->SetStreamSource(0, nullptr, 0);
    vb->Release();
}
BENCHMARK(BM_Device_StateSwitchAndEmptyDraw);

}  // namespace
