// One spiral drawn through the device: the particles must light up the
// pixels along the path its emitter took, and nothing far from it.
#include <gtest/gtest.h>

#include <png.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <numbers>
#include <vector>

#include "ParticleTestSupport.h"
#include "app/uC.h"
#include "particles/uPartVisual.h"
#include "particles/uRandom.h"
#include "particles/uSpiral.h"
#include "render/uDebug.h"
#include "render/uStateBlocks.h"
#include "render/uTex.h"
#include "scene/math/uMath.h"
#include "tests/d3d8/D3D8TestSupport.h"
#include "scene/uTexRect.h"
#include "tests/scene/SceneTestSupport.h"

using namespace particle_test;

namespace {


// Writes the back buffer as an RGB PNG: a look at the frame for whoever tunes
// the particle files (HALVORA_PARTICLE_PNG=file).
void SavePng(const char* Path, const std::vector<uint32_t>& Pixels, int W, int H)
{
  FILE* F = std::fopen(Path, "wb");
  if (!F)
    return;
  png_structp Png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop Info = png_create_info_struct(Png);
  png_init_io(Png, F);
  png_set_IHDR(Png, Info, W, H, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(Png, Info);
  std::vector<png_byte> Row(static_cast<size_t>(W) * 3);
  for (int Y = 0; Y < H; ++Y) {
    for (int X = 0; X < W; ++X) {
      const uint32_t P = Pixels[static_cast<size_t>(Y * W + X)];
      Row[static_cast<size_t>(X * 3)] = static_cast<png_byte>(P >> 16);
      Row[static_cast<size_t>(X * 3 + 1)] = static_cast<png_byte>(P >> 8);
      Row[static_cast<size_t>(X * 3 + 2)] = static_cast<png_byte>(P);
    }
    png_write_row(Png, Row.data());
  }
  png_write_end(Png, nullptr);
  png_destroy_write_struct(&Png, &Info);
  std::fclose(F);
}

class SpiralFrame : public ::testing::Test {
protected:
  explicit SpiralFrame(int W = 320, int H = 240) : Width(W), Height(H) {}
  void SetUp() override
  {
    SavedOptions = Options;
    d3d8::faults::ClearAll();
    platform::display::SetCurrentForTests(std::make_unique<d3d8test::FakeDisplay>());
    D3D = Direct3DCreate8(D3D_SDK_VERSION);
    ASSERT_NE(D3D, nullptr);
    D3DPRESENT_PARAMETERS Params = d3d8test::WindowedParams(Width, Height);
    ASSERT_EQ(D3D->CreateDevice(0, D3DDEVTYPE_HAL, d3d8test::TestWindow(), D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                                &Params, &Dev),
              D3D_OK);
    SavedDevice = ::Device;
    ::Device = Dev;
    TextureFormat = D3DFMT_A8R8G8B8;

    Options.Width = Width;
    Options.Height = Height;
    ASSERT_TRUE(SetupScreenGeometry());
    SetFrameStep(1.0f);

    // The data folder holds the shipped spiral files and the generated atlas.
    namespace fs = std::filesystem;
    fs::create_directories(fs::path(DataDir) / "Particles");
    fs::create_directories(fs::path(DataDir) / "Textures");
    for (const char* Name : {"@Fire1.prt", "@Fire2.prt", "@Fire3.prt"})
      fs::copy_file(fs::path(HALVORA_SOURCE_DIR) / "data/Particles" / Name, fs::path(DataDir) / "Particles" / Name);
    for (const char* Name : {"Particles.tga", "Particles.uv"})
      fs::copy_file(fs::path(HALVORA_BINARY_DIR) / "data/Textures" / Name, fs::path(DataDir) / "Textures" / Name);

    Textures = std::make_unique<TTexArr>(true);
    Textures->RestoreDeviceObjects();
    SetDefaultStates();
    Blocks = std::make_unique<TStateBlockDepot>();
    BlockDepot = Blocks.get();
    Blocks->RestoreDeviceObjects();
    SetCamera();
  }

  void TearDown() override
  {
    Spiral.reset();
    Master.reset();
    ParticleMaster = nullptr;
    Blocks.reset();
    BlockDepot = nullptr;
    Textures.reset();
    ReleaseLastTexture();
    ::Device = SavedDevice;
    if (Dev)
      Dev->Release();
    if (D3D)
      D3D->Release();
    platform::display::SetCurrentForTests(nullptr);
    Options = SavedOptions;
    FrameCount = 0;
    ElapsedSteps = 0;
  }

  // The scene root's camera: the plane z = 0 shows the world rectangle.
  void SetCamera()
  {
    D3DMATRIX Projection, View;
    MatrixPerspectiveFov(Projection, std::numbers::pi_v<float> / 2, ViewHeight / ViewWidth, 0.0f, 1000.0f);
    const D3DVECTOR Eye{0, 0, -1}, At{0, 0, 0}, Up{0, 100, 0};
    MatrixLookAt(View, Eye, At, Up);
    Dev->SetTransform(D3DTS_PROJECTION, &Projection);
    Dev->SetTransform(D3DTS_VIEW, &View);
  }

  std::vector<uint32_t> BackBuffer()
  {
    std::vector<uint32_t> Pixels(static_cast<size_t>(Width * Height), 0xDEADBEEF);
    IDirect3DSurface8* Back = nullptr;
    EXPECT_EQ(Dev->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &Back), D3D_OK);
    D3DLOCKED_RECT Locked{};
    if (Back && Back->LockRect(&Locked, nullptr, D3DLOCK_READONLY) == D3D_OK) {
      for (int Y = 0; Y < Height; ++Y)
        std::memcpy(&Pixels[static_cast<size_t>(Y * Width)], static_cast<const uint8_t*>(Locked.pBits) + Y * Locked.Pitch,
                    static_cast<size_t>(Width) * 4);
      Back->UnlockRect();
    }
    if (Back)
      Back->Release();
    for (uint32_t& P : Pixels)
      P &= 0x00FFFFFF;
    return Pixels;
  }

  // Runs the frame loop as the screensaver does: update the particles, move
  // the spiral, draw.
  void RunFrames(int Frames)
  {
    for (int F = 0; F < Frames; ++F) {
      Master->FrameMove();
      Spiral->FrameMove();
      Path.push_back({Spiral->Particles->PosX, Spiral->Particles->PosY});
      ++FrameCount;
      ElapsedSteps += FrameStep;
      Dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
      Dev->BeginScene();
      SetCamera();
      Master->Render();
      Dev->EndScene();
    }
  }

  int Width, Height;
  scenetest::ReportCapture Reports;  // data folder and captured reports
  TOptions SavedOptions{};
  IDirect3D8* D3D = nullptr;
  IDirect3DDevice8* Dev = nullptr;
  IDirect3DDevice8* SavedDevice = nullptr;
  std::unique_ptr<TTexArr> Textures;
  std::unique_ptr<TStateBlockDepot> Blocks;
  std::unique_ptr<TGamePartMaster> Master;
  std::unique_ptr<TSpiral> Spiral;
  struct TPoint {
    float X, Y;
  };
  std::vector<TPoint> Path;
};

int Brightness(uint32_t P) { return static_cast<int>(((P >> 16) & 255) + ((P >> 8) & 255) + (P & 255)); }

TEST_F(SpiralFrame, ParticlesFollowTheEmitterPath)
{
  ASSERT_GT(UVCount, 0);
  RandSeed(11);
  Options.SpiralType = 0;
  Options.BlendMode = 0;
  FrameCount = 1;
  Master = std::make_unique<TGamePartMaster>();
  ParticleMaster = Master.get();
  Spiral = std::make_unique<TSpiral>();
  ASSERT_NE(Spiral->Particles, nullptr);
  Path.push_back({0, 0});  // the first births come before the spiral moves
  RunFrames(90);
  const std::vector<uint32_t> Pixels = BackBuffer();
  if (const char* Png = std::getenv("HALVORA_PARTICLE_PNG"))
    SavePng(Png, Pixels, Width, Height);

  // The last part of the path (births whose particles are still young) is lit.
  int Lit = 0, Probed = 0;
  for (size_t I = Path.size() - 40; I + 2 < Path.size(); I += 4, ++Probed) {
    const int PX = WorldToPixelX(Path[I].X), PY = WorldToPixelY(Path[I].Y);
    if (PX < 2 || PY < 2 || PX >= Width - 2 || PY >= Height - 2)
      continue;
    int Best = 0;
    for (int DY = -2; DY <= 2; ++DY)
      for (int DX = -2; DX <= 2; ++DX)
        Best = std::max(Best, Brightness(Pixels[static_cast<size_t>((PY + DY) * Width + PX + DX)]));
    Lit += Best > 60;
  }
  EXPECT_GE(Lit, Probed * 3 / 4);

  // Far from every point of the path nothing is drawn.
  int Stray = 0;
  for (int Y = 0; Y < Height; Y += 3)
    for (int X = 0; X < Width; X += 3) {
      const float WX = PixelToWorldX(X), WY = PixelToWorldY(Y);
      float Nearest = 10;
      for (const TPoint& P : Path)
        Nearest = std::min(Nearest, std::hypot(WX - P.X, WY - P.Y));
      if (Nearest > 0.35f && Brightness(Pixels[static_cast<size_t>(Y * Width + X)]) > 0)
        ++Stray;
    }
  EXPECT_EQ(Stray, 0);
  EXPECT_TRUE(Reports.Messages.empty()) << Reports.Messages.front();
}

// Not a check: renders what the screensaver shows after a while (eight
// spirals over the fading overlay, never cleared) into HALVORA_PARTICLE_PNG.
// HALVORA_LOOK="type mode frames" picks the spiral type, blend mode and length.
class SpiralLook : public SpiralFrame {
protected:
  SpiralLook() : SpiralFrame(1920, 1080) {}
};

TEST_F(SpiralLook, DISABLED_EightSpirals)
{
  int Type = 0, Mode = 0, Frames = 400;
  if (const char* Look = std::getenv("HALVORA_LOOK"))
    std::sscanf(Look, "%d %d %d", &Type, &Mode, &Frames);
  RandSeed(5);
  Options.SpiralType = Type;
  Options.BlendMode = Mode;
  FrameCount = 1;
  Master = std::make_unique<TGamePartMaster>();
  ParticleMaster = Master.get();
  TColorRect Overlay;
  Overlay.StateBlocks[0] = 15;
  Overlay.SetPixelRect(0, 0, Width, Height);
  Overlay.SetColor(0x10000000);
  Overlay.UploadVertices();
  std::vector<std::unique_ptr<TSpiral>> Spirals;
  for (int I = 0; I < 8; ++I)
    Spirals.push_back(std::make_unique<TSpiral>());
  Dev->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
  for (int F = 0; F < Frames; ++F) {
    Master->FrameMove();
    for (auto& S : Spirals)
      S->FrameMove();
    ++FrameCount;
    ElapsedSteps += FrameStep;
    Dev->BeginScene();
    SetCamera();
    Master->Render();
    Overlay.Render();
    Dev->EndScene();
  }
  int Alive = 0;
  for (auto& S : Spirals)
    Alive += S->Particles->AliveCount();
  std::printf("alive particles: %d\n", Alive);
  if (const char* Png = std::getenv("HALVORA_PARTICLE_PNG"))
    SavePng(Png, BackBuffer(), Width, Height);
  Spirals.clear();
}

}  // namespace
