#include "particles/uPartVisual.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "app/uC.h"
#include "framework/uD3DGlobals.h"
#include "render/uDebug.h"
#include "render/uLog.h"
#include "render/uStateBlocks.h"
#include "render/uTex.h"
#include "scene/math/uMath.h"
#include "scene/uV.h"

TGamePartMaster* ParticleMaster = nullptr;

namespace {

constexpr int32_t AlphaBlendedBlock = 24;
constexpr int32_t BilinearBlock = 30;
constexpr UINT PartVertexStride = sizeof(TDiffuseTexVertex);

void WriteDeadQuad(TDiffuseTexVertex* Quad)
{
  for (int32_t I = 0; I < VerticesPerQuad; ++I)
    Quad[I].Color = 0;
}

void SetCorner(TDiffuseTexVertex& Vertex, float X, float Y, D3DCOLOR Color, float U, float V)
{
  Vertex.x = X;
  Vertex.y = Y;
  Vertex.Color = Color;
  Vertex.u = U;
  Vertex.v = V;
}

}  // namespace

// ---- renderer -----------------------------------------------------------

TPartVisual::TPartVisual()
{
  SetPrimitiveType(D3DPT_TRIANGLELIST);
  SetVertexType(vkDiffuseTex);
  SetPrimitiveCount(2 * MaxRects);
  if (Vertices)
    std::memset(Vertices.get(), 0, static_cast<size_t>(BufferSize));
  AllocVertexBuffer();
}

void TPartVisual::PrepareRender()
{
  FillPeaks();
  CheckResult(Device->SetStreamSource(0, VertexBuffer, PartVertexStride));
  CheckResult(Device->SetVertexShader(VertexShader));
  CheckResult(Device->SetTransform(D3DTS_WORLD, &IdentityMatrix));
  ST(0, TexArr ? TexArr->Slots[ParticleTextureSlot].Texture : nullptr);
}

// Writes the quads of one system's slots in drawing order, at most Room of
// them; returns how many it wrote.
int32_t TPartVisual::WriteSystem(const TParticles& System, TDiffuseTexVertex* Out, int32_t Room)
{
  const int32_t Quads = std::min(System.UsedSlots(), Room);
  const float U0 = System.U0, V0 = System.V0, U1 = System.U1, V1 = System.V1;
  for (int32_t I = 0; I < Quads; ++I, Out += VerticesPerQuad) {
    const TParticle& P = *System.Order[I];
    if (P.Life >= 1.0f) {
      WriteDeadQuad(Out);
      continue;
    }
    const float S = System.SizeTable[P.ColorIndex];
    float A = S, B = S;
    if (System.EnableAxisRotate) {
      A = S * std::sin(P.AxisAngle);
      B = S * std::cos(P.AxisAngle);
    }
    float CX = P.X, CY = P.Y;
    if (System.EnableCenterRotate) {
      CX += P.CenterRadius * std::cos(P.CenterAngle);
      CY += P.CenterRadius * std::sin(P.CenterAngle);
    }
    const D3DCOLOR C = P.Color;
    // The shared corners are written again rather than copied: a copy would load them back
    // while their fields' stores are still in flight, and stall on every quad.
    const float X1 = CX + A, Y1 = CY + B, X2 = CX - A, Y2 = CY - B;
    SetCorner(Out[0], CX - B, CY + A, C, U0, V0);
    SetCorner(Out[1], X1, Y1, C, U1, V0);
    SetCorner(Out[2], X2, Y2, C, U0, V1);
    SetCorner(Out[3], X1, Y1, C, U1, V0);
    SetCorner(Out[4], X2, Y2, C, U0, V1);
    SetCorner(Out[5], CX + B, CY - A, C, U1, V1);
  }
  return Quads;
}

void TPartVisual::FillPeaks()
{
  AlphaRects = AdditiveRects = 0;
  for (TBasic* Child = Next; Child; Child = Child->Next)
    if (const auto* System = dynamic_cast<const TParticles*>(Child)) {
      if (System->Blend == 0)
        AlphaRects += System->UsedSlots();
      else if (System->Blend == 1)
        AdditiveRects += System->UsedSlots();
    }
  if (AlphaRects + AdditiveRects > MaxRects) {
    ReportError("TPartVisual.FillPeaks: RectCount is above maximal value");
    // The buffer holds MaxRects quads: the first of them in drawing order are drawn.
    AlphaRects = std::min(AlphaRects, MaxRects);
    AdditiveRects = std::min(AdditiveRects, MaxRects - AlphaRects);
  }

  TDiffuseTexVertex* Out = VerticesAs<TDiffuseTexVertex>();
  if (!Out)
    return;
  for (uint8_t Group : {uint8_t{0}, uint8_t{1}}) {
    int32_t Room = Group == 0 ? AlphaRects : AdditiveRects;
    for (TBasic* Child = Next; Child && Room > 0; Child = Child->Next) {
      const auto* System = dynamic_cast<const TParticles*>(Child);
      if (!System || System->Blend != Group)
        continue;
      const int32_t Written = WriteSystem(*System, Out, Room);
      Out += Written * VerticesPerQuad;
      Room -= Written;
    }
  }

  Upload(static_cast<UINT>(AlphaRects + AdditiveRects) * VerticesPerQuad * PartVertexStride);
}

// Only the part in use is copied to the device.
void TPartVisual::Upload(UINT Bytes)
{
  if (Bytes == 0 || !VertexBuffer)
    return;  // a zero size would lock the whole buffer
  BYTE* Data = nullptr;
  const HRESULT Locked = VertexBuffer->Lock(0, Bytes, &Data, 0);
  CheckResult(Locked);
  if (FAILED(Locked) || !Data)
    return;
  std::memcpy(Data, Vertices.get(), Bytes);
  VertexBuffer->Unlock();
}

void TPartVisual::DrawPrimitives()
{
  ApplyBlock(AlphaBlendedBlock);
  ApplyBlock(BilinearBlock);
  CheckResult(Device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, static_cast<UINT>(2 * AlphaRects)));
  SRS(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  SRS(D3DRS_DESTBLEND, D3DBLEND_ONE);
  CheckResult(Device->DrawPrimitive(D3DPT_TRIANGLELIST, static_cast<UINT>(VerticesPerQuad * AlphaRects),
                                    static_cast<UINT>(2 * AdditiveRects)));
}

// ---- masters ------------------------------------------------------------

TPartMaster::TPartMaster()
{
  Renderer = new TPartVisual();
  AddChild(Renderer);
}

void TPartMaster::Render() { TMaster::Render(); }

TParticles* TGamePartMaster::Load(const std::string& FileName, bool OneShot)
{
  auto* System = new TParticles();
  AddChild(System);
  System->LoadFromFile(DataDir + "\\Particles\\" + FileName);
  System->Prepare();
  System->Reset();
  System->OneShot = OneShot;
  return System;
}

TParticles* TGamePartMaster::CreateInRect(const std::string& FileName, int32_t Left, int32_t Top, int32_t Right,
                                          int32_t Bottom)
{
  TParticles* System = Load(FileName, false);
  System->SetArea(Left, Top, Right, Bottom);
  return System;
}

TParticles* TGamePartMaster::CreateAt(const std::string& FileName, int32_t X, int32_t Y)
{
  TParticles* System = Load(FileName, false);
  System->PosX = PixelToWorldX(X);
  System->PosY = PixelToWorldY(Y);
  return System;
}

TParticles* TGamePartMaster::CreateBurstAt(const std::string& FileName, int32_t X, int32_t Y)
{
  TParticles* System = Load(FileName, true);
  System->PosX = PixelToWorldX(X);
  System->PosY = PixelToWorldY(Y);
  return System;
}

TParticles* TGamePartMaster::CreateBurstAtScene(const std::string& FileName, float X, float Y)
{
  TParticles* System = Load(FileName, true);
  System->PosX = X;
  System->PosY = Y;
  return System;
}
