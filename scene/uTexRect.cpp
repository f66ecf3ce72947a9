#include "scene/uTexRect.h"

#include "app/uC.h"
#include "app/uRunState.h"
#include "common/uFiles.h"
#include "common/uFormats.h"
#include "common/uStrings.h"
#include "framework/uD3DGlobals.h"
#include "render/uDebug.h"
#include "render/uLog.h"
#include "render/uStateBlocks.h"
#include "render/uTGA.h"
#include "render/uTex.h"
#include "scene/math/uMath.h"
#include "scene/uV.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int32_t kDefaultTileSize = 128;

bool IsPowerOfTwo(int32_t n) { return n > 0 && (n & (n - 1)) == 0; }

int32_t CeilDiv(int32_t a, int32_t b) { return a / b + (a % b != 0 ? 1 : 0); }

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

int32_t TilesOf(int32_t width, int32_t height, int32_t tile)
{
    return CeilDiv(width, tile) * CeilDiv(height, tile);
}

// The largest square texture the device takes; 256 before its capabilities are known.
int32_t LargestTile()
{
    const DWORD side = std::min(DeviceCaps.MaxTextureWidth, DeviceCaps.MaxTextureHeight);
    return side > 0 ? static_cast<int32_t>(std::min<DWORD>(side, 1u << 14)) : 256;
}

}  // namespace

int32_t FittingTileSize(int32_t Width, int32_t Height, int32_t TileSize, int32_t Largest)
{
    while (TileSize < Largest && TilesOf(Width, Height, TileSize) > TTexRect256::kMaxTiles)
        TileSize *= 2;
    return TileSize;
}

// ---------------------------------------------------------------- TTexRect256

TTexRect256::TTexRect256(int32_t X, int32_t Y, const std::string& FileName_, bool Centered_, int32_t TileSize_)
{
    SetPrimitiveType(D3DPT_TRIANGLELIST);
    SetVertexType(vkDiffuseTex);
    Color = 0;
    PixelX = X;
    PixelY = Y;
    FileName = LowerCaseAscii(FileExists(FileName_) ? FileName_ : DataDir + "\\" + FileName_);
    Centered = Centered_;
    TileSize = TileSize_;
    if (!IsPowerOfTwo(TileSize)) {
        ReportError("TTexRect256: TileSize=" + std::to_string(TileSize) + " is not a power of two, " +
                    std::to_string(kDefaultTileSize) + " used");
        TileSize = kDefaultTileSize;
    }
    SetRectCount();
    RestoreDeviceObjects();
}

TTexRect256::~TTexRect256() { ReleaseTiles(); }

void TTexRect256::SetRectCount()
{
    uint8_t header[kTGAHeaderSize] = {};
    const bool read = ReadTGAHeader(FileName, header);
    const bool formatOk = read && FileExists(FileName) && EndsWith(FileName, ".tga") && header[16] == 32;
    if (!formatOk)
        ReportError("TTexRect256.SetRectCount: QueryFileFormat failed");
    ImageWidth = header[12] | (header[13] << 8);
    ImageHeight = header[14] | (header[15] << 8);
    // Large screens' pictures are cut into larger tiles, so the whole picture is shown; those
    // that fit keep the tiles asked for.
    TileSize = FittingTileSize(ImageWidth, ImageHeight, TileSize, std::max(TileSize, LargestTile()));
    TileColumns = CeilDiv(ImageWidth, TileSize);
    TileRows = CeilDiv(ImageHeight, TileSize);
    TileCount = TileColumns * TileRows;
    if (TileCount > kMaxTiles) {
        // Not even the device's largest tiles fit the table: keep the top-left ones that do.
        const int32_t needed = TileCount;
        TileColumns = std::min(TileColumns, kMaxTiles);
        TileRows = std::min(TileRows, kMaxTiles / TileColumns);
        TileCount = TileColumns * TileRows;
        ImageWidth = std::min(ImageWidth, TileColumns * TileSize);
        ImageHeight = std::min(ImageHeight, TileRows * TileSize);
        ReportError("TTexRect256.SetRectCount: " + std::to_string(needed) + " tiles needed, picture clipped to " +
                    std::to_string(TileColumns) + " x " + std::to_string(TileRows) + " tiles");
    }
}

HRESULT TTexRect256::RestoreDeviceObjects()
{
    if (!Vertices) {
        SetVertexCount(TileColumns * 6 * TileRows);
        FillPeaks();
    }
    CreateTiles();
    LoadTiles();
    AllocVertexBuffer();
    UploadVertices();
    return S_OK;
}

void TTexRect256::ReleaseTiles()
{
    for (IDirect3DTexture8*& tile : Tiles)
        ReleaseRef(tile);
}

void TTexRect256::InvalidateDeviceObjects()
{
    TVisual::InvalidateDeviceObjects();
    ReleaseTiles();
}

void TTexRect256::SetLeft(float x)
{
    CentreX = x + HalfWidth;
    PixelX = WorldToPixelX(x);
}

void TTexRect256::SetTop(float y)
{
    CentreY = y - HalfHeight;
    PixelY = WorldToPixelY(y);
}

void TTexRect256::SetColor(D3DCOLOR C)
{
    if (C == Color)
        return;
    Color = C;
    SetVertexColors(C);
    UploadVertices();
}

void TTexRect256::SetVertexColors(D3DCOLOR C)
{
    auto* v = VerticesAs<TDiffuseTexVertex>();
    for (int32_t i = 0; v && i < VertexCount; ++i)
        v[i].Color = C;
}

void TTexRect256::CreateTiles()
{
    for (int32_t i = 0; i < TileCount; ++i) {
        ReleaseRef(Tiles[i]);
        if (Device)
            CreateTextureDirect(static_cast<UINT>(TileSize), static_cast<UINT>(TileSize), 0, 0, TextureFormat,
                                D3DPOOL_MANAGED, &Tiles[i]);
    }
}

void TTexRect256::LoadTiles()
{
    std::vector<D3DLOCKED_RECT> locked(static_cast<std::size_t>(TileCount), D3DLOCKED_RECT{0, nullptr});
    for (int32_t i = 0; i < TileCount; ++i) {
        if (!Tiles[i])
            continue;
        const HRESULT hr = Tiles[i]->LockRect(0, &locked[i], nullptr, 0);
        CheckResult(hr);
        if (FAILED(hr))
            locked[i] = {0, nullptr};
    }

    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;
    if (LoadTextureImage(FileName, width, height, pixels)) {
        const int32_t bytes = FormatBitDepth(TextureFormat) / 8;
        // Only what the tile grid covers; a file that changed since its header was read
        // cannot push the copy past either buffer.
        const int32_t rows = std::min(height, TileRows * TileSize);
        const int32_t cols = std::min(width, TileColumns * TileSize);
        int32_t tileRow = 0;
        int32_t line = 0;
        for (int32_t y = 0; y < rows; ++y) {
            const uint8_t* src = pixels.data() + static_cast<std::size_t>(y) * width * bytes;
            for (int32_t k = 0, x = 0; x < cols; ++k, x += TileSize) {
                const D3DLOCKED_RECT& dst = locked[tileRow * TileColumns + k];
                if (!dst.pBits)
                    continue;
                const int32_t piece = std::min(TileSize, cols - x);
                std::memcpy(static_cast<uint8_t*>(dst.pBits) + static_cast<std::size_t>(line) * dst.Pitch,
                            src + static_cast<std::size_t>(x) * bytes, static_cast<std::size_t>(piece) * bytes);
            }
            if (++line == TileSize) {
                line = 0;
                ++tileRow;
            }
        }
    }

    for (int32_t i = 0; i < TileCount; ++i)
        if (locked[i].pBits)
            CheckResult(Tiles[i]->UnlockRect(0));
}

void TTexRect256::FillPeaks()
{
    const float t = TileSize * PixelSize;
    SetWidth(ImageWidth * PixelSize);
    SetHeight(ImageHeight * PixelSize);
    float x0 = 0.0f;
    float y0 = 0.0f;
    if (Centered) {
        x0 = PixelToWorldX((Options.Width - ImageWidth) / 2);
        y0 = PixelToWorldY((Options.Height - ImageHeight) / 2);
        SetLeft(x0);
        SetTop(y0);
    } else {
        x0 = (PixelX - Options.HalfWidth) * PixelSize - HalfPixelSize;
        y0 = -(PixelY - Options.HalfHeight) * PixelSize + HalfPixelSize;
        SetLeft(PixelToWorldX(PixelX));  // the column table's value, without its bound
        SetTop(PixelToWorldY(PixelY));
    }

    const int32_t rightRest = ImageWidth & (TileSize - 1);
    const int32_t bottomRest = ImageHeight & (TileSize - 1);
    const float uR = rightRest == 0 ? 1.0f : float(rightRest) / TileSize;
    const float vB = bottomRest == 0 ? 1.0f : float(bottomRest) / TileSize;
    const float lastWidth = rightRest == 0 ? t : rightRest * t / TileSize;
    const float lastHeight = bottomRest == 0 ? t : bottomRest * t / TileSize;

    auto* v = VerticesAs<TDiffuseTexVertex>();
    if (!v)
        return;
    float y = y0;
    for (int32_t row = 0; row < TileRows; ++row, y -= t) {
        const bool lastRow = row == TileRows - 1;
        const float bottom = y - (lastRow ? lastHeight : t);
        const float vb = lastRow ? vB : 1.0f;
        float x = x0;
        for (int32_t col = 0; col < TileColumns; ++col, x += t) {
            const bool lastCol = col == TileColumns - 1;
            const float right = x + (lastCol ? lastWidth : t);
            const float ur = lastCol ? uR : 1.0f;
            const float corners[6][4] = {{x, y, 0, 0},      {right, y, ur, 0},      {x, bottom, 0, vb},
                                         {right, y, ur, 0}, {x, bottom, 0, vb}, {right, bottom, ur, vb}};
            for (const auto& c : corners) {
                v->x = c[0];
                v->y = c[1];
                v->z = 0.0f;
                v->u = c[2];
                v->v = c[3];
                ++v;
            }
        }
    }
}

void TTexRect256::PrepareRender()
{
    BindStream();
    for (int32_t block : StateBlocks)
        ApplyBlock(block);
    if (ExtraStateBlock)
        ApplyBlock(30);
    SetWorldTransform(UseWorldMatrix);
}

void TTexRect256::DrawPrimitives()
{
    for (int32_t i = 0; i < TileCount; ++i) {
        ST(0, Tiles[i]);
        CheckResult(Device->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(PrimitiveType), static_cast<UINT>(6 * i), 2));
    }
}

// ---------------------------------------------------------------- TColorRect

TColorRect::TColorRect()
{
    SetPrimitiveType(D3DPT_TRIANGLESTRIP);
    SetVertexType(vkDiffuse);
    SetVertexCount(4);
    AllocVertexBuffer();
}

void TColorRect::SetCorners(float L, float T, float R, float B)
{
    auto* v = VerticesAs<TDiffuseVertex>();
    if (!v)
        return;
    const float pos[4][2] = {{L, T}, {R, T}, {L, B}, {R, B}};
    for (int i = 0; i < 4; ++i) {
        v[i].x = pos[i][0];
        v[i].y = pos[i][1];
        v[i].z = 0.0f;
    }
}

void TColorRect::SetPixelRect(int32_t X, int32_t Y, int32_t Width_, int32_t Height_)
{
    PixelX = X;
    PixelY = Y;
    SetWidth(Width_ * PixelSize);
    SetHeight(Height_ * PixelSize);
    SetLeft(PixelToWorldX(X));
    SetTop(PixelToWorldY(Y));
    const float l = (X - Options.HalfWidth) * PixelSize;
    const float t = (Options.HalfHeight - Y) * PixelSize;
    SetCorners(l, t, l + Width - HalfPixelSize, t - (Height - HalfPixelSize));
}

void TColorRect::SetCentredSize(float W, float H)
{
    SetWidth(W);
    SetHeight(H);
    SetLeft(-HalfWidth);
    SetTop(HalfHeight);
    PixelX = WorldToPixelX(GetLeft());
    PixelY = WorldToPixelY(GetTop());
    const float l = (PixelX - Options.HalfWidth) * PixelSize + HalfPixelSize;
    const float t = (Options.HalfHeight - PixelY) * PixelSize - HalfPixelSize;
    SetCorners(l, t, l + W, t - H);
}

void TColorRect::SetColor(D3DCOLOR C) { SetCornerColors(C, C, C, C); }

void TColorRect::SetCornerColors(D3DCOLOR C0, D3DCOLOR C1, D3DCOLOR C2, D3DCOLOR C3)
{
    auto* v = VerticesAs<TDiffuseVertex>();
    if (!v)
        return;
    v[0].Color = C0;
    v[1].Color = C1;
    v[2].Color = C2;
    v[3].Color = C3;
}

void TColorRect::PrepareRender()
{
    BindStream();
    for (int32_t block : StateBlocks)
        ApplyBlock(block);
    SetWorldTransform(UseWorldMatrix);
}
