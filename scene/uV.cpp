#include "scene/uV.h"

#include "render/uLog.h"

DWORD GetVertexShader(uint8_t Kind)
{
    switch (Kind) {
    case vkDiffuse: return D3DFVF_XYZ | D3DFVF_DIFFUSE;
    case vkNormalDiffuse: return D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE;
    case vkTransformedTex: return D3DFVF_XYZRHW | D3DFVF_TEX1;
    case vkTex: return D3DFVF_XYZ | D3DFVF_TEX1;
    case vkDiffuseTex: return D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;
    default: ReportError("uV.GetVertexShader: Unknown vertex buffer type"); return 0;
    }
}

int32_t GetVertexSize(uint8_t Kind)
{
    switch (Kind) {
    case vkDiffuse: return sizeof(TDiffuseVertex);
    case vkNormalDiffuse: return sizeof(TNormalDiffuseVertex);
    case vkTransformedTex: return sizeof(TTransformedTexVertex);
    case vkTex: return sizeof(TTexVertex);
    case vkDiffuseTex: return sizeof(TDiffuseTexVertex);
    default: ReportError("uV.GetVertexSize: Unknown vertex buffer type"); return 0;
    }
}

int32_t GetPrimitiveCount(int32_t PrimType, int32_t Vertices)
{
    switch (PrimType) {
    case 0: return 0;
    case D3DPT_POINTLIST: return Vertices;
    case D3DPT_LINELIST: return Vertices / 2;
    case D3DPT_LINESTRIP: return Vertices - 1;
    case D3DPT_TRIANGLELIST: return Vertices / 3;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return Vertices - 2;
    default: ReportError("uV.GetPrimitiveCount: Unknown vertex buffer type"); return 0;
    }
}

int32_t GetVertexCount(int32_t PrimType, int32_t Primitives)
{
    switch (PrimType) {
    case 0: return 0;
    case D3DPT_POINTLIST: return Primitives;
    case D3DPT_LINELIST: return 2 * Primitives;
    case D3DPT_LINESTRIP: return Primitives + 1;
    case D3DPT_TRIANGLELIST: return 3 * Primitives;
    case D3DPT_TRIANGLESTRIP:
    case D3DPT_TRIANGLEFAN: return Primitives + 2;
    default: ReportError("uV.GetVertexCount: Unknown vertex buffer type"); return 0;
    }
}
