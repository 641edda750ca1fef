#include "platform/surface.h"
#include "tests/desktop/DesktopTest.h"

#include <gtest/gtest.h>

namespace {

using namespace platform;

TEST(Surfaces, PicturesDecodeThroughThePlatformAndLabelsDraw) {
  testsupport::TempDir dir;
  auto source = Surface::Create(4, 2, 0xFF102030u);
  source->Fill({2, 0, 4, 2}, 0x80FF0000u);
  ASSERT_TRUE(source->SavePng(dir / "p.png"));
  auto picture = Surface::LoadPicture(dir / "p.png");
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->Width(), 4);
  EXPECT_EQ(picture->GetPixel(0, 0), 0xFF102030u);
  EXPECT_EQ(picture->GetPixel(3, 1) >> 24, 0x80u);  // alpha kept
  testsupport::WriteFileOrDie(dir / "bad.png", "not a picture");
  EXPECT_FALSE(Surface::LoadPicture(dir / "bad.png"));
  EXPECT_FALSE(Surface::LoadPicture(dir / "missing.png"));

  auto label = Surface::Create(80, 24, 0xFFFFFFFFu);
  label->DrawText("ss", {6, 2, 74, 22}, 0xFF000000u);
  int dark = 0;
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 80; ++x)
      if ((label->GetPixel(x, y) & 0xFF) < 0x80) ++dark;
  EXPECT_GT(dark, 5);
  for (int y = 0; y < 24; ++y) EXPECT_EQ(label->GetPixel(2, y), 0xFFFFFFFFu);  // left margin
}

}  // namespace
