// One particle system: a fixed pool of particles born at an emitter, drifting
// with their own velocity, a constant wind and a constant gravity, coloured,
// sized and spun by how far through their life they are. It draws nothing
// itself; the renderer of its particle master reads the pool (uPartVisual).
#pragma once

#include <cstdint>
#include <string>

#include "platform/d3d8/d3d8.h"
#include "scene/uBasic.h"

constexpr int32_t MaxParticles = 2048;
constexpr int32_t LifeSteps = 256;

struct TParticle {
  float Life;  // 0 at birth; dead from 1 on
  int32_t ColorIndex;
  float LifeRate;
  float X, Y;
  float VX, VY;
  uint32_t Color;
  float CenterRadius, CenterRadiusSpeed;
  float CenterAngle, CenterAngleSpeed;
  float AxisAngle, AxisSpeed;
  float GravVX, GravVY;
};

class TParticles : public TBasic {
public:
    const char* ClassName() const override { return "TParticles"; }
  float WindAngle = 0, WindPower = 0, WindX = 0, WindY = 0;
  float GravAngle = 0, GravPower = 0, GravX = 0, GravY = 0;
  TParticle Pool[MaxParticles] = {};
  // Update and drawing sequence; Order[0 .. Count - 1] is always a permutation
  // of Pool[0 .. Count - 1].
  TParticle* Order[MaxParticles] = {};
  uint32_t ColorTable[LifeSteps] = {};
  float SizeTable[LifeSteps] = {};
  int32_t UVIndex = 0;
  float PosX = 0, PosY = 0;
  float PrevX = 0, PrevY = 0;
  bool Interpolate = false;
  int32_t SizeUnit = 0;
  float U0 = 0, V0 = 0, U1 = 0, V1 = 0;
  float Pending = 0;
  float LifeRate = 0;
  uint8_t Blend = 0, Queue = 0;
  float BornRadius = 0, StartSpeed = 0;
  int32_t LifeTime = 0;
  float PartsPerStep = 0;
  int32_t Count = 0;
  D3DCOLORVALUE Colors[4] = {};  // red, green, blue, alpha in 0..1
  float Size[3] = {};
  bool EnableAxisRotate = false;
  float AxisRotate[3] = {};
  bool EnableCenterRotate = false;
  float CenterRotate[5] = {};
  bool OneShot = false;
  bool Emitting = true;
  bool UseArea = false;
  float AreaWidth = 0, AreaHeight = 0;

  TParticles();

  void LoadFromFile(const std::string& FileName);
  void Prepare();
  void Reset();
  void SetWind(float Power, float Angle);
  void SetGrav(float Power, float Angle);
  void SetUV(int32_t Index);
  void MoveTo(float X, float Y);
  void SetInterpolate(bool Flag);
  void SetArea(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom);
  void SetColors(uint32_t C0, uint32_t C1, uint32_t C2, uint32_t C3);
  void Emit(int32_t Slot);
  int32_t AliveCount() const;
  void FrameMove() override;

  // Slots in use: Count held to the pool, so a bad Count never reaches past it.
  int32_t UsedSlots() const;

private:
  void BuildColorTable();
  void BuildSizeTable();
  void EmitByQueue();
  int32_t CountBirths();
  void EmitNewestLast();
  void EmitNewestFirst();
  void EmitRandomSlots();
  void EmitBurst();
  void MoveParticles();
  bool CanBear() const { return LifeTime > 0; }
};
