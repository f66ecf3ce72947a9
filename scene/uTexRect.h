#pragma once
// Ready-made screen drawables: a picture cut into square texture tiles, and a rectangle of
// flat or per-corner colour. Both hold screen positions in their vertices, so they draw
// with the identity world matrix unless UseWorldMatrix is set.

#include "scene/uVisual.h"

#include <cstdint>
#include <string>

// The tile side for a Width x Height picture: TileSize, doubled while the picture would need
// more than TTexRect256::kMaxTiles tiles and the side stays within Largest.
int32_t FittingTileSize(int32_t Width, int32_t Height, int32_t TileSize, int32_t Largest);

class TTexRect256 : public TVisual {
public:
    const char* ClassName() const override { return "TTexRect256"; }
    static constexpr int32_t kMaxTiles = 256;

    bool Centered = false;
    IDirect3DTexture8* Tiles[kMaxTiles] = {};
    int32_t PixelX = 0;
    int32_t PixelY = 0;
    int32_t TileSize = 0;     // as asked for, or larger for a picture of more than kMaxTiles tiles
    int32_t ImageWidth = 0;   // clipped to the tiles that fit
    int32_t ImageHeight = 0;
    int32_t TileColumns = 0;
    int32_t TileRows = 0;
    int32_t TileCount = 0;
    D3DCOLOR Color = 0;
    std::string FileName;

    // X, Y: pixel of the top-left corner unless Centered. TileSize is a power of two.
    TTexRect256(int32_t X, int32_t Y, const std::string& FileName_, bool Centered_, int32_t TileSize_);
    ~TTexRect256() override;

    HRESULT RestoreDeviceObjects() override;
    void InvalidateDeviceObjects() override;
    void PrepareRender() override;
    void SetLeft(float x) override;
    void SetTop(float y) override;
    void FillPeaks() override;
    void DrawPrimitives() override;

    virtual void SetColor(D3DCOLOR C);
    virtual void SetVertexColors(D3DCOLOR C);
    virtual void CreateTiles();
    virtual void LoadTiles();

    // Reads the picture's header: its size gives the tile grid, and the tile side grows when
    // the table could not hold the tiles of the side asked for.
    void SetRectCount();

private:
    void ReleaseTiles();
};

class TColorRect : public TVisual {
public:
    const char* ClassName() const override { return "TColorRect"; }
    int32_t PixelX = 0;
    int32_t PixelY = 0;

    // Four zeroed vertices; the owner places and colours them, then uploads.
    TColorRect();

    void PrepareRender() override;

    virtual void SetPixelRect(int32_t X, int32_t Y, int32_t Width_, int32_t Height_);
    virtual void SetCentredSize(float W, float H);
    virtual void SetColor(D3DCOLOR C);
    virtual void SetCornerColors(D3DCOLOR C0, D3DCOLOR C1, D3DCOLOR C2, D3DCOLOR C3);

private:
    void SetCorners(float L, float T, float R, float B);
};
