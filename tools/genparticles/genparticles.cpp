// Draws the particle atlas (Textures/Particles.tga, 256 x 256, 32-bit) and writes
// the UV file that lists its sprites (Textures/Particles.uv).
//
// Usage: genparticles DATA_DIR
//
// Sprites are white; their shape is all in alpha, so the vertex colour the
// particle system assigns is what shows. Every sprite fades to zero alpha well
// inside its cell, so bilinear filtering never pulls in a neighbour. The output
// depends only on this file: no clock, no seed from outside.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr int AtlasSize = 256;
constexpr float Pi = 3.14159265358979f;

using Shape = std::function<float(float U, float V)>;

struct Sprite {
  const char* Name;
  int Left, Top, Size;
  Shape Alpha;
};

float Clamp01(float X) { return std::clamp(X, 0.0f, 1.0f); }

float SmoothStep(float Edge0, float Edge1, float X)
{
  const float T = Clamp01((X - Edge0) / (Edge1 - Edge0));
  return T * T * (3.0f - 2.0f * T);
}

// Fades everything out before the cell's edge (radius 1 touches the edge midpoints).
float EdgeWindow(float U, float V)
{
  const float R = std::sqrt(U * U + V * V);
  const float Box = std::max(std::fabs(U), std::fabs(V));
  return SmoothStep(1.0f, 0.82f, R) * SmoothStep(1.0f, 0.9f, Box);
}

uint32_t Hash(int X, int Y, uint32_t Salt)
{
  uint32_t H = static_cast<uint32_t>(X) * 374761393u + static_cast<uint32_t>(Y) * 668265263u + Salt * 2246822519u;
  H = (H ^ (H >> 13)) * 1274126177u;
  return H ^ (H >> 16);
}

float HashUnit(int X, int Y, uint32_t Salt) { return static_cast<float>(Hash(X, Y, Salt) & 0xFFFFFF) / 16777216.0f; }

float ValueNoise(float X, float Y, uint32_t Salt)
{
  const int IX = static_cast<int>(std::floor(X));
  const int IY = static_cast<int>(std::floor(Y));
  const float FX = SmoothStep(0.0f, 1.0f, X - static_cast<float>(IX));
  const float FY = SmoothStep(0.0f, 1.0f, Y - static_cast<float>(IY));
  const float A = HashUnit(IX, IY, Salt), B = HashUnit(IX + 1, IY, Salt);
  const float C = HashUnit(IX, IY + 1, Salt), D = HashUnit(IX + 1, IY + 1, Salt);
  return (A + (B - A) * FX) + ((C + (D - C) * FX) - (A + (B - A) * FX)) * FY;
}

float Fractal(float X, float Y, uint32_t Salt)
{
  float Sum = 0.0f, Amplitude = 0.5f;
  for (int Octave = 0; Octave < 4; ++Octave) {
    Sum += Amplitude * ValueNoise(X, Y, Salt + static_cast<uint32_t>(Octave));
    X *= 2.0f;
    Y *= 2.0f;
    Amplitude *= 0.5f;
  }
  return Sum / 0.9375f;
}

float Gauss(float R, float Width) { return std::exp(-(R * R) / (Width * Width)); }

float Radius(float U, float V) { return std::sqrt(U * U + V * V); }

Shape SoftGlow(float Width)
{
  return [=](float U, float V) { return Gauss(Radius(U, V), Width); };
}

Shape HotGlow()
{
  return [](float U, float V) {
    const float R = Radius(U, V);
    return 0.6f * Gauss(R, 0.16f) + 0.4f * Gauss(R, 0.5f);
  };
}

Shape FireGlow(uint32_t Salt)
{
  return [=](float U, float V) {
    const float R = Radius(U, V);
    const float Noise = Fractal(U * 3.0f + 7.0f, V * 3.0f + 3.0f, Salt);
    return Gauss(R, 0.55f) * (0.35f + 0.9f * Noise);
  };
}

Shape Halo()
{
  return [](float U, float V) {
    const float R = Radius(U, V);
    const float Falloff = std::pow(Clamp01(1.0f - R), 1.6f);
    return 0.75f * Falloff + 0.25f * Gauss(R, 0.2f);
  };
}

// Thin line through the centre at Angle, fading with distance along it.
float Streak(float U, float V, float Angle, float Thickness, float Length)
{
  const float C = std::cos(Angle), S = std::sin(Angle);
  const float Along = U * C + V * S;
  const float Across = -U * S + V * C;
  return Gauss(Across, Thickness) * std::pow(Clamp01(1.0f - std::fabs(Along) / Length), 2.0f);
}

Shape Flare(int Lines, float Tilt)
{
  return [=](float U, float V) {
    const float R = Radius(U, V);
    float Rays = 0.0f;
    for (int L = 0; L < Lines; ++L)
      Rays = std::max(Rays, Streak(U, V, Tilt + Pi * static_cast<float>(L) / static_cast<float>(Lines), 0.045f, 0.95f));
    return std::max(0.9f * Gauss(R, 0.22f) + 0.15f * Gauss(R, 0.6f), 0.85f * Rays);
  };
}

// A star with Points rounded points, brightest in the middle.
Shape Star(int Points, float Sharpness, float Tilt)
{
  return [=](float U, float V) {
    const float R = Radius(U, V);
    const float Theta = std::atan2(V, U) - Tilt;
    const float Lobe = std::pow(std::fabs(std::cos(static_cast<float>(Points) * Theta * 0.5f)), Sharpness);
    const float Reach = 0.18f + 0.72f * Lobe;
    return std::max(Gauss(R / Reach, 0.75f), 0.5f * Gauss(R, 0.18f));
  };
}

Shape Ring(float Centre, float Width, float Fill)
{
  return [=](float U, float V) {
    const float R = Radius(U, V);
    return Gauss(R - Centre, Width) + Fill * Gauss(R, 0.35f);
  };
}

// A short bright streak with a hot head, tilted by Angle.
Shape Spark(float Angle, float Stretch)
{
  return [=](float U, float V) {
    const float C = std::cos(Angle), S = std::sin(Angle);
    const float Along = U * C + V * S;
    const float Across = -U * S + V * C;
    const float Body = Gauss(Across, 0.16f) * Gauss(Along, 0.25f * Stretch);
    const float Head = Gauss(Radius(Along - 0.1f * Stretch, Across), 0.17f);
    return std::max(Body, Head);
  };
}

Shape PointSpark(float Width, float Cross)
{
  return [=](float U, float V) {
    const float R = Radius(U, V);
    const float Lines = std::max(Streak(U, V, 0.0f, 0.07f, 0.8f), Streak(U, V, 0.5f * Pi, 0.07f, 0.8f));
    return std::max(Gauss(R, Width), Cross * Lines);
  };
}

Shape Comet()
{
  return [](float U, float V) {
    // Head at the upper right, tail towards the lower left.
    const float Along = (U + V) * 0.7071f;
    const float Across = (U - V) * 0.7071f;
    const float Head = Gauss(Radius(Along - 0.45f, Across), 0.2f);
    const float Spread = 0.06f + 0.12f * Clamp01((0.5f - Along) / 1.3f);
    const float Tail = Gauss(Across, Spread) * SmoothStep(-0.85f, 0.4f, Along) * 0.8f;
    return std::max(Head, Tail);
  };
}

Shape Nova(uint32_t Salt)
{
  return [=](float U, float V) {
    const float R = Radius(U, V);
    float Rays = 0.0f;
    for (int L = 0; L < 12; ++L) {
      const float Angle = 2.0f * Pi * (static_cast<float>(L) + 0.4f * HashUnit(L, 0, Salt)) / 12.0f;
      const float Reach = 0.45f + 0.5f * HashUnit(L, 1, Salt);
      const float C = std::cos(Angle), S = std::sin(Angle);
      const float Along = U * C + V * S;
      if (Along <= 0.0f)
        continue;
      const float Across = -U * S + V * C;
      Rays = std::max(Rays, Gauss(Across, 0.035f) * std::pow(Clamp01(1.0f - Along / Reach), 1.5f));
    }
    return std::max(0.85f * Gauss(R, 0.2f), 0.8f * Rays);
  };
}

std::vector<Sprite> Layout()
{
  std::vector<Sprite> List = {
    {"soft glow", 0, 0, 64, SoftGlow(0.42f)},
    {"hot glow", 64, 0, 64, HotGlow()},
    {"fire glow", 128, 0, 64, FireGlow(11)},
    {"halo", 192, 0, 64, Halo()},
    {"cross flare", 0, 64, 64, Flare(2, 0.0f)},
    {"six-ray flare", 64, 64, 64, Flare(3, 0.5f * Pi)},
    {"four-point star", 128, 64, 64, Star(4, 10.0f, 0.0f)},
    {"five-point star", 192, 64, 64, Star(5, 6.0f, 0.5f * Pi)},
    {"six-point star", 0, 128, 64, Star(6, 6.0f, 0.0f)},
    {"eight-point sparkle", 64, 128, 64, Star(8, 14.0f, 0.0f)},
    {"thin ring", 128, 128, 64, Ring(0.6f, 0.08f, 0.2f)},
    {"soft ring", 192, 128, 64, Ring(0.48f, 0.17f, 0.0f)},
    {"comet", 128, 192, 64, Comet()},
    {"nova", 192, 192, 64, Nova(5)},
  };
  // Eight small sparks fill the lower left quarter row.
  const std::array<Shape, 8> Sparks = {
    PointSpark(0.3f, 0.0f), PointSpark(0.18f, 0.7f), Spark(0.0f, 2.2f), Spark(0.25f * Pi, 2.2f),
    Spark(0.5f * Pi, 2.2f), Spark(0.75f * Pi, 2.2f), SoftGlow(0.22f), Ring(0.45f, 0.12f, 0.5f),
  };
  for (int I = 0; I < 8; ++I)
    List.push_back({"spark", (I % 4) * 32, 192 + (I / 4) * 32, 32, Sparks[static_cast<size_t>(I)]});
  return List;
}

// Pixels are 0xAARRGGBB, top row first.
void DrawSprite(std::vector<uint32_t>& Pixels, const Sprite& S)
{
  constexpr int Samples = 4;
  for (int Y = 0; Y < S.Size; ++Y)
    for (int X = 0; X < S.Size; ++X) {
      float Sum = 0.0f;
      for (int SY = 0; SY < Samples; ++SY)
        for (int SX = 0; SX < Samples; ++SX) {
          const float PX = static_cast<float>(X) + (static_cast<float>(SX) + 0.5f) / Samples;
          const float PY = static_cast<float>(Y) + (static_cast<float>(SY) + 0.5f) / Samples;
          const float U = PX / static_cast<float>(S.Size) * 2.0f - 1.0f;
          const float V = 1.0f - PY / static_cast<float>(S.Size) * 2.0f;
          Sum += Clamp01(S.Alpha(U, V)) * EdgeWindow(U, V);
        }
      const auto A = static_cast<uint32_t>(std::lround(Sum / (Samples * Samples) * 255.0f));
      Pixels[static_cast<size_t>((S.Top + Y) * AtlasSize + S.Left + X)] = (A << 24) | 0x00FFFFFFu;
    }
}

void PutLE16(std::vector<uint8_t>& Out, int Value)
{
  Out.push_back(static_cast<uint8_t>(Value & 0xFF));
  Out.push_back(static_cast<uint8_t>((Value >> 8) & 0xFF));
}

bool SaveTGA(const std::filesystem::path& Path, const std::vector<uint32_t>& Pixels)
{
  std::vector<uint8_t> Out;
  Out.insert(Out.end(), {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0});
  PutLE16(Out, AtlasSize);
  PutLE16(Out, AtlasSize);
  Out.push_back(32);
  Out.push_back(0);
  for (int Y = AtlasSize - 1; Y >= 0; --Y)
    for (int X = 0; X < AtlasSize; ++X) {
      const uint32_t P = Pixels[static_cast<size_t>(Y * AtlasSize + X)];
      for (int Shift = 0; Shift < 32; Shift += 8)
        Out.push_back(static_cast<uint8_t>(P >> Shift));
    }
  Out.insert(Out.end(), 8, 0);
  const char Footer[] = "TRUEVISION-XFILE.";
  Out.insert(Out.end(), Footer, Footer + sizeof Footer);
  FILE* F = std::fopen(Path.string().c_str(), "wb");
  if (!F)
    return false;
  const bool Written = std::fwrite(Out.data(), 1, Out.size(), F) == Out.size();
  return std::fclose(F) == 0 && Written;
}

bool SaveUV(const std::filesystem::path& Path, const std::vector<Sprite>& List)
{
  FILE* F = std::fopen(Path.string().c_str(), "w");
  if (!F)
    return false;
  std::fprintf(F, "; Sprites of Particles.tga: left top right bottom, in texels of 256 x 256.\n");
  std::fprintf(F, "; The n-th data line is UVIndex n.\n");
  for (size_t I = 0; I < List.size(); ++I) {
    const Sprite& S = List[I];
    std::fprintf(F, "; %zu: %s\n%d %d %d %d\n", I, S.Name, S.Left, S.Top, S.Left + S.Size, S.Top + S.Size);
  }
  return std::fclose(F) == 0;
}

}  // namespace

int main(int Argc, char** Argv)
{
  if (Argc != 2) {
    std::fprintf(stderr, "usage: genparticles DATA_DIR\n");
    return 2;
  }
  const std::filesystem::path Textures = std::filesystem::path(Argv[1]) / "Textures";
  std::error_code Error;
  std::filesystem::create_directories(Textures, Error);
  if (Error) {
    std::fprintf(stderr, "genparticles: cannot create %s: %s\n", Textures.string().c_str(), Error.message().c_str());
    return 1;
  }
  const std::vector<Sprite> List = Layout();
  std::vector<uint32_t> Pixels(static_cast<size_t>(AtlasSize * AtlasSize), 0x00FFFFFFu);
  for (const Sprite& S : List)
    DrawSprite(Pixels, S);
  if (!SaveTGA(Textures / "Particles.tga", Pixels) || !SaveUV(Textures / "Particles.uv", List)) {
    std::fprintf(stderr, "genparticles: cannot write into %s\n", Textures.string().c_str());
    return 1;
  }
  return 0;
}
