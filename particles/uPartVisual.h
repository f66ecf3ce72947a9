// The particle layer: a master whose first child, the renderer, turns every
// particle slot of the systems after it into one textured quad of a shared
// vertex buffer, drawn in two calls (alpha-blended systems, then additive).
#pragma once

#include <cstdint>
#include <string>

#include "particles/uParticles.h"
#include "scene/uBasic.h"
#include "scene/uV.h"
#include "scene/uVisual.h"

constexpr int32_t VerticesPerQuad = 6;

class TPartVisual : public TVisual {
public:
    const char* ClassName() const override { return "TPartVisual"; }
  int32_t AlphaRects = 0;
  int32_t AdditiveRects = 0;
  int32_t MaxRects = 16384;

  TPartVisual();
  void PrepareRender() override;
  void FillPeaks() override;
  void DrawPrimitives() override;

private:
  int32_t WriteSystem(const TParticles& System, TDiffuseTexVertex* Out, int32_t Room);
  void Upload(UINT Bytes);
};

class TPartMaster : public TMaster {
public:
    const char* ClassName() const override { return "TPartMaster"; }
  TPartVisual* Renderer = nullptr;

  TPartMaster();
  void Render() override;
};

class TGamePartMaster : public TPartMaster {
public:
    const char* ClassName() const override { return "TGamePartMaster"; }
  virtual TParticles* CreateInRect(const std::string& FileName, int32_t Left, int32_t Top, int32_t Right, int32_t Bottom);
  virtual TParticles* CreateAt(const std::string& FileName, int32_t X, int32_t Y);
  virtual TParticles* CreateBurstAt(const std::string& FileName, int32_t X, int32_t Y);
  virtual TParticles* CreateBurstAtScene(const std::string& FileName, float X, float Y);

private:
  TParticles* Load(const std::string& FileName, bool OneShot);
};

// The scene's particle master, the one the spirals draw with.
extern TGamePartMaster* ParticleMaster;
