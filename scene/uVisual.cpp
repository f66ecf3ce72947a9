#include "scene/uVisual.h"

#include "framework/uD3DGlobals.h"
#include "render/uLog.h"
#include "render/uStateBlocks.h"
#include "scene/math/uMath.h"
#include "scene/uV.h"

#include <cstring>
#include <limits>
#include <string>

TVisual::~TVisual() { ReleaseRef(VertexBuffer); }

void TVisual::SetPrimitiveType(int32_t T) { PrimitiveType = T; }

void TVisual::SetVertexType(uint8_t Kind)
{
    VertexKind = Kind;
    VertexShader = GetVertexShader(Kind);
    VertexSize = GetVertexSize(Kind);
}

void TVisual::SetVertexCount(int32_t N)
{
    if (N == 0)
        ReportError("Vertex count equal zero");
    VertexCount = N;
    PrimitiveCount = GetPrimitiveCount(PrimitiveType, N);
    SizeVertices();
}

void TVisual::SetPrimitiveCount(int32_t N)
{
    if (N == 0)
        ReportError("Primitive count equal zero");
    PrimitiveCount = N;
    VertexCount = GetVertexCount(PrimitiveType, N);
    SizeVertices();
}

void TVisual::SizeVertices()
{
    Vertices.reset();
    const int64_t bytes = int64_t(VertexCount) * VertexSize;
    if (VertexCount < 0 || bytes < 0 || bytes > std::numeric_limits<int32_t>::max()) {
        ReportError("TVisual.SetVertexCount: invalid vertex count " + std::to_string(VertexCount));
        VertexCount = 0;
        PrimitiveCount = 0;
        BufferSize = 0;
        return;
    }
    BufferSize = static_cast<int32_t>(bytes);
    if (BufferSize > 0)
        Vertices.reset(new uint8_t[BufferSize]());  // zero-filled
}

void TVisual::AllocVertexBuffer()
{
    ReleaseRef(VertexBuffer);
    if (!Device || BufferSize <= 0)
        return;  // nothing to hold: the zero count was reported when it was set
    CheckResult(Device->CreateVertexBuffer(static_cast<UINT>(BufferSize), D3DUSAGE_WRITEONLY, VertexShader,
                                           D3DPOOL_MANAGED, &VertexBuffer));
}

void TVisual::FillPeaks() {}

HRESULT TVisual::CopyToBuffer(int32_t bytes)
{
    if (!VertexBuffer)
        return D3DERR_INVALIDCALL;
    bytes = bytes < BufferSize ? bytes : BufferSize;
    BYTE* data = nullptr;
    const HRESULT lock = VertexBuffer->Lock(0, static_cast<UINT>(bytes), &data, 0);
    CheckResult(lock);
    if (FAILED(lock) || !data)
        return FAILED(lock) ? lock : E_FAIL;
    if (bytes > 0 && Vertices)
        std::memcpy(data, Vertices.get(), static_cast<size_t>(bytes));
    return VertexBuffer->Unlock();
}

HRESULT TVisual::UploadVertices() { return CopyToBuffer(BufferSize); }

HRESULT TVisual::UploadPrimitives(int32_t N)
{
    const int64_t bytes = int64_t(GetVertexCount(PrimitiveType, N)) * VertexSize;
    if (bytes < 0)
        return E_INVALIDARG;
    return CopyToBuffer(bytes > BufferSize ? BufferSize : static_cast<int32_t>(bytes));
}

void TVisual::DrawPrimitives()
{
    CheckResult(Device->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(PrimitiveType), 0,
                                      static_cast<UINT>(PrimitiveCount)));
}

HRESULT TVisual::RestoreDeviceObjects()
{
    AllocVertexBuffer();
    UploadVertices();
    return S_OK;
}

void TVisual::InvalidateDeviceObjects() { ReleaseRef(VertexBuffer); }

void TVisual::BindStream()
{
    CheckResult(Device->SetStreamSource(0, VertexBuffer, static_cast<UINT>(VertexSize)));
    CheckResult(Device->SetVertexShader(VertexShader));
}

void TVisual::SetWorldTransform(bool useWorldMatrix)
{
    D3DMATRIX m = IdentityMatrix;
    if (useWorldMatrix)
        GetWorldMatrix(m);
    CheckResult(Device->SetTransform(D3DTS_WORLD, &m));
}

void TVisual::PrepareRender()
{
    BindStream();
    for (int32_t block : StateBlocks)
        ApplyBlock(block);
    SetWorldTransform(true);
}

void TVisual::Render()
{
    if (!Visible || !Device || !VertexBuffer)
        return;
    PrepareRender();
    DrawPrimitives();
}
