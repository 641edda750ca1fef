#include "platform/surface.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

// A strip of four single-pixel colours: red, green, blue, white.
std::unique_ptr<Surface> Strip() {
  auto s = Surface::Create(4, 1);
  const Argb colours[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
  for (int x = 0; x < 4; ++x) s->Fill({x, 0, x + 1, 1}, colours[x]);
  return s;
}

TEST(Surface, CreateRefusesUnusableSizesAndFills) {
  EXPECT_FALSE(Surface::Create(0, 10));
  EXPECT_FALSE(Surface::Create(10, -1));
  EXPECT_FALSE(Surface::Create(100000, 10));
  auto s = Surface::Create(3, 2, 0xFF112233u);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->GetPixel(2, 1), 0xFF112233u);
  EXPECT_EQ(s->GetPixel(3, 0), 0u);  // outside
}

TEST(Surface, NearestNeighbourScalingSamplesPixelCentres) {
  auto strip = Strip();
  struct Case {
    ui::Rect from, to;
    std::vector<Argb> row;  // expected first row of the target, left to right
  } cases[] = {
      // Doubling repeats each pixel exactly twice.
      {{0, 0, 4, 1}, {0, 0, 8, 1},
       {0xFFFF0000u, 0xFFFF0000u, 0xFF00FF00u, 0xFF00FF00u, 0xFF0000FFu, 0xFF0000FFu,
        0xFFFFFFFFu, 0xFFFFFFFFu}},
      // One source pixel stretched over a wide target stays one colour.
      {{1, 0, 2, 1}, {0, 0, 5, 1}, std::vector<Argb>(5, 0xFF00FF00u)},
      // A block taken from the middle of the picture.
      {{2, 0, 4, 1}, {0, 0, 2, 1}, {0xFF0000FFu, 0xFFFFFFFFu}},
      // Shrinking 3 to 2: the centres 0.75 and 2.25 pick pixels 0 and 2.
      {{0, 0, 3, 1}, {0, 0, 2, 1}, {0xFFFF0000u, 0xFF0000FFu}},
  };
  for (const Case& c : cases) {
    auto target = Surface::Create(c.to.Width(), 1, 0xFF000000u);
    target->DrawScaled(*strip, c.from, c.to);
    for (int x = 0; x < c.to.Width(); ++x)
      EXPECT_EQ(target->GetPixel(x, 0), c.row[static_cast<std::size_t>(x)])
          << "from " << c.from.left << " to width " << c.to.Width() << " at " << x;
  }
}

TEST(Surface, CopyReplacesPixelsAndScaledDrawingBlends) {
  auto source = Surface::Create(2, 2, 0x00000000u);  // fully transparent
  source->Fill({1, 1, 2, 2}, 0xFF00FF00u);
  auto target = Surface::Create(4, 4, 0xFFFF0000u);
  // A copy replaces, transparency included (a bit-block transfer).
  target->Copy(*source, 0, 0, {2, 2, 4, 4});
  EXPECT_EQ(target->GetPixel(2, 2), 0u);
  EXPECT_EQ(target->GetPixel(3, 3), 0xFF00FF00u);
  EXPECT_EQ(target->GetPixel(1, 1), 0xFFFF0000u);
  // A copy larger than the source leaves the rest of the target alone.
  target->Copy(*source, 1, 1, {0, 0, 3, 3});
  EXPECT_EQ(target->GetPixel(0, 0), 0xFF00FF00u);
  EXPECT_EQ(target->GetPixel(1, 1), 0xFFFF0000u);
  // Drawing a picture blends: its transparent parts keep what was below.
  auto below = Surface::Create(2, 2, 0xFF0000FFu);
  below->DrawScaled(*source, {0, 0, 2, 2}, {0, 0, 2, 2});
  EXPECT_EQ(below->GetPixel(0, 0), 0xFF0000FFu);
  EXPECT_EQ(below->GetPixel(1, 1), 0xFF00FF00u);
}

TEST(Surface, PicturesRoundTripThroughPngFiles) {
  testsupport::TempDir dir;
  auto strip = Strip();
  ASSERT_TRUE(strip->SavePng(dir / "strip.png"));
  auto back = Surface::LoadPicture(dir / "strip.png");
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Width(), 4);
  EXPECT_EQ(back->GetPixel(2, 0), 0xFF0000FFu);
  EXPECT_FALSE(Surface::LoadPicture(dir / "none.png"));
  EXPECT_FALSE(Surface::LoadPicture(""));
}

}  // namespace
