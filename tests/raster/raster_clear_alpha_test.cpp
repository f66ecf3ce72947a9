// Triangles whose diffuse alpha is 0 everywhere may be skipped only where that cannot
// change a pixel; each case must leave the target exactly as drawing it would.
#include <gtest/gtest.h>

#include "tests/raster/raster_test_util.h"

namespace raster_test {
namespace {

TEST(RasterClearAlpha, SkippedOnlyWhereItChangesNothing) {
    struct Case {
        std::uint32_t src, dst, alphaOp, alphaArg1;
        bool changes;  // a zero-alpha diffuse with colour still changes the target
    };
    const Case cases[] = {
        {5, 2, 4, 2, false},  // additive particles: texture x diffuse alpha
        {5, 6, 4, 2, false},  // alpha-blended particles
        {5, 6, 3, 2, false},  // alpha from diffuse alone
        {2, 2, 4, 2, true},   // ONE/ONE adds the colour whatever the alpha
        {5, 2, 2, 2, true},   // alpha from the texture alone
        {6, 2, 4, 2, true},   // INVSRCALPHA source factor: alpha 0 is full strength
    };
    Texture tex(2, 2, {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF});
    for (const Case& c : cases) {
        raster::DrawState s;
        s.cullMode = 1;
        raster::StageState& st = s.stages[0];
        st.texture = &tex.view;
        st.colorOp = 4;  // texture x diffuse
        st.colorArg1 = 2;
        st.colorArg2 = 0;
        st.alphaOp = c.alphaOp;
        st.alphaArg1 = c.alphaArg1;
        st.alphaArg2 = 0;
        s.alphaBlendEnable = true;
        s.srcBlend = c.src;
        s.destBlend = c.dst;
        for (std::uint32_t shade : {1u, 2u}) {
            s.shadeMode = shade;
            Canvas canvas(8, 8, PixelFormat::X8R8G8B8, 0x00102030);
            ASSERT_TRUE(Draw(s, canvas, Quad(1, 1, 7, 7, 0x00806040), 4, 2));
            EXPECT_EQ(canvas.Mask(0x102030).find('#') != std::string::npos, c.changes)
                << c.src << "/" << c.dst << " alpha op " << c.alphaOp << " shade " << shade;
        }
    }
}

// A list mixing clear and partly clear triangles draws the partly clear ones exactly as alone.
TEST(RasterClearAlpha, PartlyClearTrianglesInAListStillDraw) {
    raster::DrawState s = Untextured();
    s.stages[0].colorOp = s.stages[0].alphaOp = 3;  // diffuse
    s.alphaBlendEnable = true;
    s.srcBlend = 5;
    s.destBlend = 2;
    const TLVertex clear0{0, 0, 0, 1, 0x00FFFFFF, 0, 0}, clear1{8, 0, 0, 1, 0x00FFFFFF, 0, 0},
        clear2{0, 8, 0, 1, 0x00FFFFFF, 0, 0};
    const TLVertex lit{8, 8, 0, 1, 0xFF40C080, 0, 0};
    const std::vector<TLVertex> alone = {clear1, lit, clear2};
    const std::vector<TLVertex> listed = {clear0, clear1, clear2, clear1, lit, clear2, clear0, clear2, clear1};
    for (std::uint32_t shade : {1u, 2u}) {
        s.shadeMode = shade;
        Canvas one(8, 8, PixelFormat::X8R8G8B8, 0x00102030), many(8, 8, PixelFormat::X8R8G8B8, 0x00102030);
        ASSERT_TRUE(Draw(s, one, alone, 4, 1));
        ASSERT_TRUE(Draw(s, many, listed, 4, 3));
        EXPECT_EQ(one.bytes, many.bytes) << "shade " << shade;
        // Gouraud blends the lit corner in; flat shading takes the clear first vertex.
        EXPECT_EQ(one.Mask(0x102030).find('#') != std::string::npos, shade == 2) << "shade " << shade;
    }
}

}  // namespace
}  // namespace raster_test
