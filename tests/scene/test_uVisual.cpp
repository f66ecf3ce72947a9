#include "scene/uVisual.h"

#include "render/uStateBlocks.h"
#include "scene/uV.h"
#include "tests/scene/FakeDevice.h"
#include "tests/scene/SceneTestSupport.h"

#include <gtest/gtest.h>

namespace {

using scenetest::FakeDevice;
using scenetest::ReportCapture;

TEST(VertexKinds, ShadersSizesAndCounts)
{
    ReportCapture reports;
    struct Kind {
        uint8_t kind;
        DWORD fvf;
        int32_t size;
    } kinds[] = {{1, 0x42, 16}, {2, 0x52, 28}, {3, 0x104, 24}, {4, 0x102, 20}, {5, 0x142, 24}, {0, 0, 0}, {6, 0, 0}};
    for (const Kind& k : kinds) {
        EXPECT_EQ(GetVertexShader(k.kind), k.fvf) << int(k.kind);
        EXPECT_EQ(GetVertexSize(k.kind), k.size) << int(k.kind);
    }
    EXPECT_EQ(reports.Count("uV.GetVertexShader: Unknown vertex buffer type"), 2);
    EXPECT_EQ(reports.Count("uV.GetVertexSize: Unknown vertex buffer type"), 2);

    struct Count {
        int32_t type, vertices, primitives;
    } counts[] = {{0, 0, 0}, {1, 7, 7}, {2, 10, 5}, {3, 10, 9}, {4, 9, 3}, {5, 4, 2}, {6, 5, 3}};
    for (const Count& c : counts) {
        EXPECT_EQ(GetPrimitiveCount(c.type, c.vertices), c.primitives) << c.type;
        EXPECT_EQ(GetVertexCount(c.type, c.primitives), c.vertices) << c.type;
    }
    EXPECT_EQ(GetPrimitiveCount(4, 10), 3);  // truncates
    EXPECT_EQ(GetPrimitiveCount(7, 10), 0);
    EXPECT_EQ(GetVertexCount(9, 10), 0);
    EXPECT_TRUE(reports.Saw("uV.GetPrimitiveCount: Unknown vertex buffer type"));
    EXPECT_TRUE(reports.Saw("uV.GetVertexCount: Unknown vertex buffer type"));
}

TEST(Visual, SizingAllocatesZeroedVertices)
{
    ReportCapture reports;
    TVisual v;
    v.SetPrimitiveType(D3DPT_TRIANGLELIST);
    v.SetVertexType(vkDiffuseTex);
    v.SetVertexCount(6);
    EXPECT_EQ(v.PrimitiveCount, 2);
    EXPECT_EQ(v.BufferSize, 144);
    ASSERT_TRUE(v.Vertices);
    for (int i = 0; i < 144; ++i)
        ASSERT_EQ(v.Vertices[i], 0);

    v.SetPrimitiveCount(32768);
    EXPECT_EQ(v.VertexCount, 98304);
    EXPECT_EQ(v.BufferSize, 98304 * 24);

    v.SetVertexCount(0);
    EXPECT_TRUE(reports.Saw("Vertex count equal zero"));
    EXPECT_EQ(v.BufferSize, 0);
    EXPECT_FALSE(v.Vertices);
    v.SetPrimitiveCount(0);
    EXPECT_TRUE(reports.Saw("Primitive count equal zero"));

    v.SetVertexCount(-5);  // refused rather than sized negative
    EXPECT_EQ(v.BufferSize, 0);
    EXPECT_EQ(v.VertexCount, 0);
}

TEST(Visual, UploadAndDrawThroughTheDevice)
{
    ReportCapture reports;
    FakeDevice dev;
    BlockDepot = nullptr;
    TVisual v;
    v.SetPrimitiveType(D3DPT_TRIANGLESTRIP);
    v.SetVertexType(vkDiffuse);
    v.SetVertexCount(4);
    v.VerticesAs<TDiffuseVertex>()[3].Color = 0xAABBCCDD;
    v.RestoreDeviceObjects();
    ASSERT_EQ(dev.Buffers.size(), 1u);
    EXPECT_EQ(dev.Buffers[0]->Bytes.size(), 64u);
    D3DCOLOR c;
    std::memcpy(&c, dev.Buffers[0]->Bytes.data() + 3 * 16 + 12, 4);
    EXPECT_EQ(c, 0xAABBCCDDu);

    // A second restore replaces the buffer instead of leaking it.
    v.RestoreDeviceObjects();
    EXPECT_EQ(*dev.LiveBuffers, 1);

    v.UploadPrimitives(1);  // 3 vertices of 16 bytes
    EXPECT_EQ(dev.Buffers[1]->LastLockSize, 48u);

    v.CentreX = 0.25f;
    dev.Journal.clear();
    v.Render();
    EXPECT_EQ(dev.Journal, (std::vector<std::string>{"SetStreamSource 0 16", "SetVertexShader 66", "SetTransform 256",
                                                     "DrawPrimitive 5 0 2"}));
    EXPECT_FLOAT_EQ(dev.LastWorld.m[3][0], 0.25f);

    dev.Journal.clear();
    v.Visible = false;
    v.Render();
    EXPECT_TRUE(dev.Journal.empty());

    v.InvalidateDeviceObjects();
    EXPECT_EQ(v.VertexBuffer, nullptr);
    EXPECT_EQ(*dev.LiveBuffers, 0);
}

TEST(Visual, AppliesOnlyNonZeroStateBlocks)
{
    ReportCapture reports;
    FakeDevice dev;
    TStateBlockDepot depot;
    BlockDepot = &depot;
    depot.RestoreDeviceObjects();
    TVisual v;
    v.SetPrimitiveType(D3DPT_TRIANGLELIST);
    v.SetVertexType(vkDiffuse);
    v.SetVertexCount(3);
    v.StateBlocks[1] = 19;
    dev.Journal.clear();
    v.PrepareRender();
    EXPECT_EQ(dev.Journal[2], "ApplyStateBlock " + std::to_string(depot.Tokens[19]));
    EXPECT_EQ(dev.Journal.size(), 4u);
    BlockDepot = nullptr;
}

}  // namespace
