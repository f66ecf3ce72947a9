#include "particles/uParticles.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <numbers>

#include "app/uRunState.h"
#include "common/uFiles.h"
#include "common/uStrings.h"
#include "framework/uD3DGlobals.h"
#include "particles/uRandom.h"
#include "render/uLog.h"
#include "render/uTex.h"
#include "scene/math/uMath.h"

namespace {

constexpr float TwoPi = 2.0f * std::numbers::pi_v<float>;
constexpr int32_t UVTableSize = 256;
constexpr int32_t SizeUnitPixels = 32;
// Without spin the quad is a square of this half-side per unit of corner
// distance, so spinning and still particles cover the same area.
constexpr float StillSizeFactor = 0.7071f;
constexpr float RetiredLife = 1.1f;

// ---- reading .prt lines -------------------------------------------------

constexpr int MaxValues = 5;

struct TSetting {
  std::string Key;
  std::string Values[MaxValues];
};

bool IsParticleComment(const std::string& Line)
{
  return Line.empty() || Line[0] == ';' || Line.compare(0, 2, "//") == 0;
}

// Only the space character separates tokens; a tab belongs to its token.
std::string NextToken(const std::string& Line, size_t& Pos)
{
  while (Pos < Line.size() && Line[Pos] == ' ')
    ++Pos;
  const size_t Start = Pos;
  while (Pos < Line.size() && Line[Pos] != ' ')
    ++Pos;
  return Line.substr(Start, Pos - Start);
}

TSetting SplitSetting(const std::string& Line)
{
  TSetting S;
  size_t Pos = 0;
  S.Key = NextToken(Line, Pos);
  for (std::string& Value : S.Values)
    Value = NextToken(Line, Pos);
  return S;
}

int32_t ReadInt(const std::string& Token) { return StrToIntVal(Token); }

// Overflowing or undefined numbers ("1e999", "nan") would poison every
// particle they touch; they read as 0 like any other malformed number.
float ReadFloat(const std::string& Token)
{
  const long double Value = StrToFloatVal(Token);
  // Narrowing a value beyond the float range is undefined, so it is refused before the cast.
  if (!std::isfinite(Value) || std::fabs(Value) > static_cast<long double>(FLT_MAX))
    return 0.0f;
  return static_cast<float>(Value);
}

bool ReadFlag(const std::string& Token) { return LowerCaseAscii(Token) == "true" || Token == "1"; }

D3DCOLORVALUE ReadColor(std::string Token)
{
  RemoveChar('$', Token);
  return ColorToFloats(static_cast<D3DCOLOR>(HexToInt(Token)));
}

int32_t ClampUVIndex(int32_t Index) { return std::clamp(Index, 0, UVTableSize - 1); }

}  // namespace

TParticles::TParticles()
{
  for (int32_t I = 0; I < MaxParticles; ++I)
    Order[I] = &Pool[I];
  SetInterpolate(false);
}

int32_t TParticles::UsedSlots() const { return std::clamp(Count, 0, MaxParticles); }

// ---- file ---------------------------------------------------------------

void TParticles::LoadFromFile(const std::string& FileName)
{
  if (!FileExists(FileName)) {
    ReportError("TParticles.LoadFromFile: File not exists \"" + FileName + "\"");
    return;
  }
  TTextFileReader File;
  if (!File.Open(FileName)) {
    ReportError("TParticles.LoadFromFile: Cannot open \"" + FileName + "\"");
    return;
  }
  std::string Line;
  while (File.ReadLine(Line)) {
    if (IsParticleComment(Line))
      continue;
    const TSetting S = SplitSetting(Line);
    const std::string* V = S.Values;
    if (S.Key == "Queue")
      Queue = static_cast<uint8_t>(ReadInt(V[0]));
    else if (S.Key == "Blend")
      Blend = static_cast<uint8_t>(ReadInt(V[0]));
    else if (S.Key == "BornRadius")
      BornRadius = ReadFloat(V[0]);
    else if (S.Key == "StartSpeed")
      StartSpeed = ReadFloat(V[0]);
    else if (S.Key == "LifeTime")
      LifeTime = ReadInt(V[0]);
    else if (S.Key == "PartsPerStep")
      PartsPerStep = ReadFloat(V[0]);
    else if (S.Key == "Count")
      Count = std::clamp(ReadInt(V[0]), 0, MaxParticles);
    else if (S.Key == "Wind")
      SetWind(ReadFloat(V[0]), ReadFloat(V[1]));
    else if (S.Key == "Grav")
      SetGrav(ReadFloat(V[0]), ReadFloat(V[1]));
    else if (S.Key == "UVIndex") {
      SetUV(ReadInt(V[0]));
      SizeUnit = SizeUnitPixels;
    } else if (S.Key == "Colors") {
      for (int I = 0; I < 4; ++I)
        Colors[I] = ReadColor(V[I]);
    } else if (S.Key == "Size") {
      for (int I = 0; I < 3; ++I)
        Size[I] = ReadFloat(V[I]);
    } else if (S.Key == "EnableAxisRotate")
      EnableAxisRotate = ReadFlag(V[0]);
    else if (S.Key == "AxisRotate") {
      for (int I = 0; I < 3; ++I)
        AxisRotate[I] = ReadFloat(V[I]);
    } else if (S.Key == "EnableCenterRotate")
      EnableCenterRotate = ReadFlag(V[0]);
    else if (S.Key == "CenterRotate") {
      for (int I = 0; I < 5; ++I)
        CenterRotate[I] = ReadFloat(V[I]);
    }
  }
}

// ---- set-up -------------------------------------------------------------

void TParticles::Prepare()
{
  // A life of no ticks has no rate; CanBear keeps such a system from bearing.
  LifeRate = LifeTime > 0 ? 1.0f / static_cast<float>(LifeTime) : 0.0f;
  BuildColorTable();
  BuildSizeTable();
}

void TParticles::BuildColorTable()
{
  for (int32_t I = 0; I < LifeSteps; ++I) {
    const float T = static_cast<float>(I) / LifeSteps;
    int From;
    float Start;
    if (T < 0.33f) {
      From = 0;
      Start = 0.0f;
    } else if (T < 0.67f) {
      From = 1;
      Start = 0.33f;
    } else {
      From = 2;
      Start = 0.67f;
    }
    const float S = std::min((T - Start) * 3.0f, 1.0f);
    ColorTable[I] = LerpColorFloats(Colors[From], Colors[From + 1], S);
  }
}

void TParticles::BuildSizeTable()
{
  for (int32_t I = 0; I < LifeSteps; ++I) {
    const float T = static_cast<float>(I) / LifeSteps;
    float Half = (Size[0] + T * (Size[1] - Size[0])) * static_cast<float>(SizeUnit) * PixelSize;
    if (!EnableAxisRotate)
      Half *= StillSizeFactor;
    SizeTable[I] = Half;
  }
}

void TParticles::Reset()
{
  for (TParticle& P : Pool)
    P.Life = RetiredLife;
  Pending = Queue == 3 ? static_cast<float>(Count) : 0.0f;
}

void TParticles::SetWind(float Power, float Angle)
{
  WindPower = Power;
  WindAngle = Angle;
  WindX = Power * std::cos(Angle);
  WindY = Power * std::sin(Angle);
}

void TParticles::SetGrav(float Power, float Angle)
{
  GravPower = Power;
  GravAngle = Angle;
  GravX = Power * std::cos(Angle);
  GravY = Power * std::sin(Angle);
}

// An index outside the table is held to its ends rather than read past them.
void TParticles::SetUV(int32_t Index)
{
  UVIndex = ClampUVIndex(Index);
  const UVRect& R = UVTable[UVIndex];
  U0 = R.U0;
  V0 = R.V0;
  U1 = R.U1;
  V1 = R.V1;
}

void TParticles::MoveTo(float X, float Y)
{
  PrevX = PosX;
  PrevY = PosY;
  PosX = X;
  PosY = Y;
}

void TParticles::SetInterpolate(bool Flag)
{
  Interpolate = Flag;
  PrevX = PosX;
  PrevY = PosY;
}

void TParticles::SetArea(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom)
{
  const int32_t W = Right - Left + 1;
  const int32_t H = Bottom - Top + 1;
  AreaWidth = static_cast<float>(W) * PixelSize;
  AreaHeight = static_cast<float>(H) * PixelSize;
  PosX = PixelToWorldX(Left) + static_cast<float>(W) * HalfPixelSize;
  PosY = PixelToWorldY(Top) - static_cast<float>(H) * HalfPixelSize;
  UseArea = true;
}

void TParticles::SetColors(uint32_t C0, uint32_t C1, uint32_t C2, uint32_t C3)
{
  Colors[0] = ColorToFloats(C0);
  Colors[1] = ColorToFloats(C1);
  Colors[2] = ColorToFloats(C2);
  Colors[3] = ColorToFloats(C3);
  BuildColorTable();
}

int32_t TParticles::AliveCount() const
{
  int32_t Alive = 0;
  for (int32_t I = 0; I < UsedSlots(); ++I)
    if (Pool[I].Life <= 1.0f)
      ++Alive;
  return Alive;
}

// ---- births -------------------------------------------------------------

void TParticles::Emit(int32_t Slot)
{
  if (Slot < 0 || Slot >= MaxParticles)
    return;
  TParticle& P = *Order[Slot];
  P.Life = 0.0f;
  P.ColorIndex = 0;
  P.LifeRate = LifeRate;

  float BaseX = PosX, BaseY = PosY;
  if (Interpolate) {
    const float R = Random();
    BaseX = PosX + R * (PrevX - PosX);
    BaseY = PosY + R * (PrevY - PosY);
  }
  const float SpreadX = UseArea ? AreaWidth : BornRadius;
  const float SpreadY = UseArea ? AreaHeight : BornRadius;
  const float R1 = Random();
  P.X = BaseX + (R1 - 0.5f) * SpreadX;
  const float R2 = Random();
  P.Y = BaseY + (R2 - 0.5f) * SpreadY;

  const float Direction = Random() * TwoPi;
  const float Speed = Random() * StartSpeed;
  P.VX = std::cos(Direction) * Speed;
  P.VY = std::sin(Direction) * Speed;

  if (EnableAxisRotate) {
    P.AxisAngle = AxisRotate[0];
    P.AxisSpeed = (AxisRotate[1] - AxisRotate[0]) * LifeRate;
  }
  P.GravVX = 0.0f;
  P.GravVY = 0.0f;
  if (EnableCenterRotate) {
    P.CenterRadius = CenterRotate[3];
    P.CenterRadiusSpeed = (CenterRotate[4] - CenterRotate[3]) * LifeRate;
    P.CenterAngle = (Random() - 0.5f) * TwoPi + CenterRotate[0];
    P.CenterAngleSpeed = (CenterRotate[1] - CenterRotate[0]) * LifeRate;
  }
}

int32_t TParticles::CountBirths()
{
  int32_t Births = 0;
  // Once less than one birth is pending no slot can take one: the rest need not be visited.
  for (int32_t I = 0; I < UsedSlots() && Pending >= 1.0f; ++I)
    if (Order[I]->Life >= 1.0f) {
      ++Births;
      Pending -= 1.0f;
    }
  return Births;
}

// Dead slots not reborn, then the living in their order, then the newborn.
void TParticles::EmitNewestLast()
{
  const int32_t N = CountBirths();
  const int32_t Used = UsedSlots();
  int32_t DeadSeen = 0;
  for (int32_t I = Used - 1; I >= 0; --I) {
    if (Order[I]->Life >= 1.0f)
      ++DeadSeen;
    else
      std::swap(Order[I], Order[I + DeadSeen]);
  }
  if (N == 0)
    return;
  for (int32_t I = 0; I < Used - N; ++I)
    std::swap(Order[I], Order[I + N]);
  for (int32_t I = Used - N; I < Used; ++I)
    Emit(I);
}

// The newborn, then the living in their order, then the dead not reborn.
void TParticles::EmitNewestFirst()
{
  const int32_t N = CountBirths();
  const int32_t Used = UsedSlots();
  int32_t DeadSeen = 0;
  for (int32_t I = 0; I < Used; ++I) {
    if (Order[I]->Life >= 1.0f)
      ++DeadSeen;
    else
      std::swap(Order[I - DeadSeen], Order[I]);
  }
  if (N == 0)
    return;
  for (int32_t I = Used - N - 1; I >= 0; --I)
    std::swap(Order[I], Order[I + N]);
  for (int32_t I = 0; I < N; ++I)
    Emit(I);
}

void TParticles::EmitRandomSlots()
{
  int32_t DeadSlots[MaxParticles];
  bool Taken[MaxParticles];
  int32_t Dead = 0;
  for (int32_t I = 0; I < UsedSlots(); ++I)
    if (Order[I]->Life >= 1.0f) {
      DeadSlots[Dead] = I;
      Taken[Dead] = false;
      ++Dead;
    }
  for (int32_t Left = Dead; Left > 0 && Pending >= 1.0f; --Left) {
    Pending -= 1.0f;
    int32_t J = Random(Dead);
    if (Taken[J]) {
      int32_t K = J + 1;
      while (K < Dead && Taken[K])
        ++K;
      if (K == Dead) {
        K = 0;
        while (Taken[K])
          ++K;
      }
      J = K;
    }
    Taken[J] = true;
    Emit(DeadSlots[J]);
  }
}

void TParticles::EmitBurst()
{
  const int32_t Used = UsedSlots();
  if (Pending >= static_cast<float>(Used)) {
    for (int32_t I = 0; I < Used; ++I)
      Emit(I);
    Pending -= static_cast<float>(Used);
  }
  if (OneShot)
    Emitting = false;
}

void TParticles::EmitByQueue()
{
  if (!CanBear()) {
    if (Queue == 3 && OneShot)
      Emitting = false;
    return;
  }
  switch (Queue) {
  case 0: EmitNewestLast(); break;
  case 1: EmitNewestFirst(); break;
  case 2: EmitRandomSlots(); break;
  case 3: EmitBurst(); break;
  default: break;
  }
}

// ---- step ---------------------------------------------------------------

void TParticles::MoveParticles()
{
  for (int32_t I = 0; I < UsedSlots(); ++I) {
    TParticle& P = *Order[I];
    if (P.Life >= 1.0f) {
      // A life ending exactly on 1 would count as alive for ever and keep a
      // finished one-shot system from freeing itself; retire it here.
      if (P.Life == 1.0f)
        P.Life = RetiredLife;
      continue;
    }
    P.ColorIndex = std::clamp(static_cast<int32_t>(std::nearbyint(P.Life * 255.0f)), 0, LifeSteps - 1);
    P.Color = ColorTable[P.ColorIndex];
    P.X += (P.VX + WindX) * FrameStep + P.GravVX;
    P.Y += (P.VY + WindY) * FrameStep + P.GravVY;
    if (EnableAxisRotate)
      P.AxisAngle += P.AxisSpeed * FrameStep;
    if (EnableCenterRotate) {
      P.CenterRadius += P.CenterRadiusSpeed * FrameStep;
      P.CenterAngle += P.CenterAngleSpeed * FrameStep;
    }
    P.GravVX += GravX * FrameStepSquared;
    P.GravVY += GravY * FrameStepSquared;
    P.Life += P.LifeRate * FrameStep;
  }
}

void TParticles::FrameMove()
{
  Pending += PartsPerStep * FrameStep;
  if (Emitting)
    EmitByQueue();
  else if (AliveCount() < 1) {
    Dead = true;
    return;
  }
  MoveParticles();
}
