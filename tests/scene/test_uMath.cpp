#include "scene/math/uMath.h"

#include "scene/uPrior.h"
#include "tests/scene/SceneTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace {

void ExpectMatrix(const D3DMATRIX& m, const float (&want)[16], float eps = 1e-6f)
{
    for (int i = 0; i < 16; ++i)
        EXPECT_NEAR(m.m[i / 4][i % 4], want[i], eps) << "element " << i;
}

D3DVECTOR Transform(const D3DMATRIX& m, float x, float y, float z)
{
    return {x * m.m[0][0] + y * m.m[1][0] + z * m.m[2][0] + m.m[3][0],
            x * m.m[0][1] + y * m.m[1][1] + z * m.m[2][1] + m.m[3][1],
            x * m.m[0][2] + y * m.m[1][2] + z * m.m[2][2] + m.m[3][2]};
}

class MathTest : public ::testing::Test {
protected:
    void SetUp() override { scenetest::UseScreen(800, 600); }
};

TEST_F(MathTest, PixelConversionsAt800x600)
{
    EXPECT_EQ(PixelSize, 1.0f / 300.0f);
    EXPECT_EQ(PixelSize, 0.0033333334f);
    EXPECT_NEAR(PixelToWorldX(0), -4.0 / 3.0 + 1.0 / 600.0, 1e-6);
    EXPECT_EQ(WorldToPixelX(0.0f), 400);
    // 1.0 over the stored pixel size is just below 300 and the conversion truncates.
    EXPECT_EQ(WorldToPixelY(0.0f), 299);
    EXPECT_EQ(WorldToPixelY(1.0f), 0);
    EXPECT_EQ(PixelToWorldX(10), ColumnX[10]);
    EXPECT_EQ(PixelToWorldY(10), RowY[10]);
    EXPECT_EQ(WorldToPixels(PixelsToWorld(7)), 7);

    int32_t px = 0, py = 0;
    WorldToScreen(0.0f, 0.0f, px, py);
    EXPECT_EQ(px, 400);
    EXPECT_EQ(py, 300);
    float x = 0.001f, y = -0.001f;
    SnapToPixel(x, y);
    EXPECT_NEAR(x, -0.5f * PixelSize, 1e-6);
    EXPECT_NEAR(y, -0.5f * PixelSize, 1e-6);
}

TEST_F(MathTest, PointInRectExcludesRightAndBottomEdges)
{
    const TPixelRect r{0, 0, 10, 10};
    struct Case {
        LONG x, y;
        bool in;
    } cases[] = {{0, 0, true}, {9, 9, true}, {10, 0, false}, {0, 10, false}, {-1, 5, false}};
    for (const Case& c : cases)
        EXPECT_EQ(PointInRect(POINT{c.x, c.y}, r), c.in) << c.x << "," << c.y;
}

TEST_F(MathTest, ColoursRoundTiesToEven)
{
    EXPECT_EQ(ColorWithAlpha(0xFFFFFF, 1.0f), 0xFFFFFFFFu);
    EXPECT_EQ(ColorWithAlpha(0xFFFFFF, 0.5f), 0x80FFFFFFu);
    EXPECT_EQ(LerpColor(0xFF000000, 0x00FFFFFF, 0.5f), 0x80808080u);
    EXPECT_EQ(LerpColor(0x00102030, 0x00102030, 0.7f), 0x00102030u);
    const D3DCOLORVALUE f = ColorToFloats(0x80FF0033);
    EXPECT_FLOAT_EQ(f.r, 1.0f);
    EXPECT_FLOAT_EQ(f.g, 0.0f);
    EXPECT_FLOAT_EQ(f.b, 0x33 / 255.0f);
    EXPECT_FLOAT_EQ(f.a, 128 / 255.0f);
    EXPECT_EQ(LerpColorFloats(ColorToFloats(0xFF000000), ColorToFloats(0x00FFFFFF), 0.5f), 0x80808080u);
    EXPECT_EQ(LerpColorFloats(f, f, 0.25f), 0x80FF0033u);
}

TEST_F(MathTest, Vectors)
{
    D3DVECTOR a, b, c;
    SetVec3(a, 1, 0, 0);
    SetVec3(b, 0, 1, 0);
    Vec3Cross(a, b, c);
    EXPECT_FLOAT_EQ(c.z, 1.0f);
    SetVec3(a, 3, 4, 12);
    EXPECT_FLOAT_EQ(Vec3Length(a), 13.0f);
    Vec3Normalize(a, c);
    EXPECT_FLOAT_EQ(Vec3Length(c), 1.0f);
    EXPECT_FLOAT_EQ(Vec3Dot(a, a), 169.0f);
}

TEST_F(MathTest, MultiplyAppliesTheSecondMatrixFirst)
{
    D3DMATRIX t, r, m;
    MatrixTranslation(t, 1, 0, 0);
    MatrixRotationZ(r, std::numbers::pi_v<float> / 2);
    MatrixMultiply(t, r, m);
    const D3DVECTOR p = Transform(m, 1, 0, 0);  // rotate to (0, 1), then move
    EXPECT_NEAR(p.x, 1.0f, 1e-6);
    EXPECT_NEAR(p.y, 1.0f, 1e-6);
}

TEST_F(MathTest, PerspectiveFov)
{
    D3DMATRIX m = IdentityMatrix;
    EXPECT_EQ(MatrixPerspectiveFov(m, 1.0f, 1.0f, 5.0f, 5.0f), E_INVALIDARG);
    EXPECT_EQ(m.m[0][0], 1.0f);  // untouched
    EXPECT_EQ(MatrixPerspectiveFov(m, 0.0f, 1.0f, 1.0f, 10.0f), E_INVALIDARG);
    ASSERT_EQ(MatrixPerspectiveFov(m, std::numbers::pi_v<float> / 2, 0.75f, 0.0f, 1000.0f), S_OK);
    EXPECT_EQ(m.m[1][1], 1.0f);
    EXPECT_EQ(m.m[0][0], 0.75f);
    EXPECT_EQ(m.m[2][2], 1.0f);
    EXPECT_EQ(m.m[2][3], 1.0f);
    EXPECT_EQ(m.m[3][2], 0.0f);
    EXPECT_EQ(m.m[3][3], 0.0f);
}

TEST_F(MathTest, LookAt)
{
    D3DMATRIX m;
    const D3DVECTOR eye{0, 0, -5}, at{0, 0, 0};
    ASSERT_EQ(MatrixLookAt(m, eye, at, D3DVECTOR{0, 1, 0}), S_OK);
    ExpectMatrix(m, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1});

    // Up along the view direction falls back to (0, 1, 0).
    ASSERT_EQ(MatrixLookAt(m, eye, at, D3DVECTOR{0, 0, 3}), S_OK);
    ExpectMatrix(m, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 5, 1});
    // Looking down y with Up = y needs the second fallback.
    ASSERT_EQ(MatrixLookAt(m, D3DVECTOR{0, 5, 0}, at, D3DVECTOR{0, 1, 0}), S_OK);
    for (int i = 0; i < 3; ++i) {
        const D3DVECTOR col{m.m[0][i], m.m[1][i], m.m[2][i]};
        EXPECT_NEAR(Vec3Length(col), 1.0f, 1e-6);
    }
    EXPECT_EQ(MatrixLookAt(m, eye, eye, D3DVECTOR{0, 1, 0}), E_INVALIDARG);
}

TEST_F(MathTest, DirectionalLight)
{
    D3DLIGHT8 l;
    MakeDirectionalLight(D3DVECTOR{0, 0, 2}, l, 1.0f, 0.5f, 0.25f, 100.0f);
    EXPECT_EQ(l.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_FLOAT_EQ(l.Direction.z, 1.0f);
    EXPECT_FLOAT_EQ(l.Diffuse.g, 0.5f);
    EXPECT_EQ(l.Diffuse.a, 0.0f);
    EXPECT_EQ(l.Specular.r, 0.0f);
    EXPECT_EQ(l.Range, 100.0f);
}

TEST_F(MathTest, PlacedObjectMatrices)
{
    TPrior p;
    D3DMATRIX m;
    p.GetWorldMatrix(m);
    ExpectMatrix(m, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});

    p.SetWidth(0.5f);
    p.SetLeft(-1.0f);
    EXPECT_FLOAT_EQ(p.CentreX, -0.75f);
    EXPECT_FLOAT_EQ(p.GetLeft(), -1.0f);
    p.SetHeight(0.2f);
    p.SetTop(1.0f);
    EXPECT_FLOAT_EQ(p.CentreY, 0.9f);
    EXPECT_FLOAT_EQ(p.GetTop(), 1.0f);

    TPrior s;
    s.CentreX = 0.5f;
    s.ScaleX = s.ScaleY = 2.0f;
    s.Scaled = true;
    s.GetWorldMatrix(m);
    D3DVECTOR v = Transform(m, 0.1f, 0.1f, 0);
    EXPECT_NEAR(v.x, 0.7f, 1e-6);
    EXPECT_NEAR(v.y, 0.2f, 1e-6);

    TPrior r;
    r.Angle = std::numbers::pi_v<float> / 2;
    r.Rotated = true;
    r.GetWorldMatrix(m);
    v = Transform(m, 1, 0, 0);
    EXPECT_NEAR(v.x, 0.0f, 1e-6);
    EXPECT_NEAR(v.y, 1.0f, 1e-6);

    // Scale, rotate, then move.
    r.Scaled = true;
    r.ScaleX = 2.0f;
    r.ScaleY = 1.0f;
    r.CentreX = 1.0f;
    r.GetWorldMatrix(m);
    v = Transform(m, 1, 0, 0);
    EXPECT_NEAR(v.x, 1.0f, 1e-6);
    EXPECT_NEAR(v.y, 2.0f, 1e-6);
}

}  // namespace
