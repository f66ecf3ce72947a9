// The generated particle atlas and its UV file, as the build leaves them in
// the data folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

const std::string DataDirOfBuild = std::string(HALVORA_BINARY_DIR) + "/data";
constexpr int Side = 256;

std::vector<uint8_t> ReadAll(const std::string& Path)
{
  std::ifstream F(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(F), std::istreambuf_iterator<char>()};
}

struct TRect {
  int Left, Top, Right, Bottom;
};

std::vector<TRect> ReadUVRects(const std::string& Path)
{
  std::ifstream F(Path);
  std::vector<TRect> Rects;
  std::string Line;
  while (std::getline(F, Line)) {
    if (Line.empty() || Line[0] == ';' || Line.rfind("//", 0) == 0)
      continue;
    std::istringstream S(Line);
    TRect R{};
    S >> R.Left >> R.Top >> R.Right >> R.Bottom;
    EXPECT_FALSE(S.fail()) << "bad data line: " << Line;
    Rects.push_back(R);
  }
  return Rects;
}

class ParticleAtlas : public ::testing::Test {
protected:
  void SetUp() override
  {
    File = ReadAll(DataDirOfBuild + "/Textures/Particles.tga");
    ASSERT_EQ(File.size(), 18u + Side * Side * 4u + 26u);
  }
  // Alpha of the pixel at (X, Y), counted from the top left.
  int Alpha(int X, int Y) const { return File[18 + ((Side - 1 - Y) * Side + X) * 4 + 3]; }
  uint32_t Rgb(int X, int Y) const
  {
    const uint8_t* P = &File[18 + ((Side - 1 - Y) * Side + X) * 4];
    return P[0] | P[1] << 8 | P[2] << 16;
  }
  std::vector<uint8_t> File;
};

TEST_F(ParticleAtlas, HeaderAndFooterAsTheReaderExpects)
{
  const uint8_t Header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 32, 0};
  EXPECT_TRUE(std::equal(Header, Header + 18, File.begin()));
  const std::string Footer(File.end() - 18, File.end());
  EXPECT_EQ(Footer, std::string("TRUEVISION-XFILE.") + '\0');
  EXPECT_TRUE(std::all_of(File.end() - 26, File.end() - 18, [](uint8_t B) { return B == 0; }));
}

// Each rectangle holds a bright sprite that fades out before its edge, so
// filtering never bleeds a neighbour in; colour is all white so the vertex
// colour shows unaltered.
TEST_F(ParticleAtlas, EveryUVRectangleHoldsASprite)
{
  const std::vector<TRect> Rects = ReadUVRects(DataDirOfBuild + "/Textures/Particles.uv");
  ASSERT_GE(Rects.size(), 8u);
  ASSERT_LE(Rects.size(), 256u);
  for (const TRect& R : Rects) {
    SCOPED_TRACE(testing::Message() << R.Left << " " << R.Top << " " << R.Right << " " << R.Bottom);
    ASSERT_TRUE(R.Left >= 0 && R.Top >= 0 && R.Right <= Side && R.Bottom <= Side);
    ASSERT_TRUE(R.Right - R.Left >= 16 && R.Bottom - R.Top >= 16);
    int Peak = 0, EdgePeak = 0;
    long Sum = 0;
    for (int Y = R.Top; Y < R.Bottom; ++Y)
      for (int X = R.Left; X < R.Right; ++X) {
        const int A = Alpha(X, Y);
        Peak = std::max(Peak, A);
        Sum += A;
        if (X == R.Left || X == R.Right - 1 || Y == R.Top || Y == R.Bottom - 1)
          EdgePeak = std::max(EdgePeak, A);
        EXPECT_EQ(Rgb(X, Y), 0xFFFFFFu);
      }
    EXPECT_GE(Peak, 200);
    EXPECT_LE(EdgePeak, 2);
    const long Area = static_cast<long>(R.Right - R.Left) * (R.Bottom - R.Top);
    EXPECT_GT(Sum, Area * 255 / 50) << "sprite too faint";
  }
}

TEST(ParticleAtlasGenerator, IsDeterministic)
{
  const std::filesystem::path Out =
      std::filesystem::temp_directory_path() / ("halvora-genparticles-" + std::to_string(::getpid()));
  const std::string Tool = std::string(HALVORA_BINARY_DIR) + "/tools/genparticles/genparticles";
  ASSERT_EQ(std::system((Tool + " '" + Out.string() + "'").c_str()), 0);
  EXPECT_EQ(ReadAll((Out / "Textures/Particles.tga").string()), ReadAll(DataDirOfBuild + "/Textures/Particles.tga"));
  EXPECT_EQ(ReadAll((Out / "Textures/Particles.uv").string()), ReadAll(DataDirOfBuild + "/Textures/Particles.uv"));
  std::filesystem::remove_all(Out);
}

}  // namespace
