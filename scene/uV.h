#pragma once
// The five vertex kinds and the arithmetic between vertex and primitive counts.

#include "platform/d3d8/d3d8.h"

#include <cstdint>

enum : uint8_t {
    vkDiffuse = 1,
    vkNormalDiffuse = 2,
    vkTransformedTex = 3,
    vkTex = 4,
    vkDiffuseTex = 5,
};

#pragma pack(push, 4)
struct TDiffuseVertex {
    float x, y, z;
    D3DCOLOR Color;
};
struct TNormalDiffuseVertex {
    float x, y, z;
    float nx, ny, nz;
    D3DCOLOR Color;
};
struct TTransformedTexVertex {
    float x, y, z, rhw;
    float u, v;
};
struct TTexVertex {
    float x, y, z;
    float u, v;
};
struct TDiffuseTexVertex {
    float x, y, z;
    D3DCOLOR Color;
    float u, v;
};
#pragma pack(pop)

static_assert(sizeof(TDiffuseVertex) == 16);
static_assert(sizeof(TNormalDiffuseVertex) == 28);
static_assert(sizeof(TTransformedTexVertex) == 24);
static_assert(sizeof(TTexVertex) == 20);
static_assert(sizeof(TDiffuseTexVertex) == 24);

// Unknown kinds and primitive types are reported and give 0.
DWORD GetVertexShader(uint8_t Kind);
int32_t GetVertexSize(uint8_t Kind);
int32_t GetPrimitiveCount(int32_t PrimType, int32_t Vertices);
int32_t GetVertexCount(int32_t PrimType, int32_t Primitives);
