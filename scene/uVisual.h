#pragma once
// The drawable scene object: a vertex buffer on the device, a copy of its vertices in
// ordinary memory (so a device reset only needs a copy), a primitive type and up to three
// render state blocks.
//
// Set-up: SetPrimitiveType, SetVertexType, SetVertexCount or SetPrimitiveCount, FillPeaks
// (or fill Vertices), AllocVertexBuffer, UploadVertices.

#include "scene/uPrior.h"

#include "platform/d3d8/d3d8.h"

#include <cstdint>
#include <memory>

class TVisual : public TPrior {
public:
    const char* ClassName() const override { return "TVisual"; }
    int32_t PrimitiveCount = 0;
    int32_t PrimitiveType = 0;
    int32_t VertexCount = 0;
    int32_t BufferSize = 0;
    IDirect3DVertexBuffer8* VertexBuffer = nullptr;
    DWORD VertexShader = 0;
    int32_t VertexSize = 0;
    uint8_t VertexKind = 0;
    std::unique_ptr<uint8_t[]> Vertices;  // BufferSize bytes, or none
    bool Visible = true;
    int32_t StateBlocks[3] = {0, 0, 0};

    TVisual() = default;
    ~TVisual() override;

    HRESULT RestoreDeviceObjects() override;
    void InvalidateDeviceObjects() override;
    void PrepareRender() override;
    void Render() override;

    virtual void SetPrimitiveType(int32_t T);
    virtual void SetVertexCount(int32_t N);
    virtual void SetPrimitiveCount(int32_t N);
    virtual void SetVertexType(uint8_t Kind);
    virtual void AllocVertexBuffer();
    virtual void FillPeaks();
    virtual HRESULT UploadVertices();
    virtual HRESULT UploadPrimitives(int32_t N);
    virtual void DrawPrimitives();

    template <class V>
    V* VerticesAs()
    {
        return reinterpret_cast<V*>(Vertices.get());
    }

protected:
    // Stream source and vertex shader of this object.
    void BindStream();
    void SetWorldTransform(bool useWorldMatrix);

private:
    void SizeVertices();
    HRESULT CopyToBuffer(int32_t bytes);
};
