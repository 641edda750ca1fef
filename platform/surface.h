// Memory drawing surfaces and pictures: 32-bit ARGB images that the skin draws its frame,
// toolbar and buttons into, then copies onto windows (a window's kMsgPaint hands out a surface
// of the window itself). Both backends use cairo image surfaces.
#pragma once

#include "platform/ui.h"

#include <cstdint>
#include <memory>
#include <string_view>

namespace platform {

// A colour as 0xAARRGGBB.
using Argb = std::uint32_t;

// Where a label sits in its rectangle (always one line, vertically centred).
enum class TextAlign { Left, Centre };

class Surface {
 public:
  struct Impl;
  explicit Surface(std::unique_ptr<Impl> impl);
  ~Surface();
  Surface(const Surface&) = delete;
  Surface& operator=(const Surface&) = delete;

  // A new surface of the size, every pixel `fill` (opaque black by default). Null when the size
  // is not positive or too large.
  static std::unique_ptr<Surface> Create(int width, int height, Argb fill = 0xFF000000u);
  // A picture read from a file (PNG, JPEG, anything the platform decoder reads; the path in the
  // system code page). Null when it cannot be read.
  static std::unique_ptr<Surface> LoadPicture(std::string_view path);

  int Width() const;
  int Height() const;
  // Fills `area` with `colour` (replacing what was there).
  void Fill(const ui::Rect& area, Argb colour);
  // Copies the block of `source` at (sx, sy) of the size of `dest` to `dest` unchanged
  // (replacing the pixels, as a bit-block transfer does). Parts outside either surface are left.
  void Copy(const Surface& source, int sx, int sy, const ui::Rect& dest);
  // Draws the `from` block of `source` scaled to `to`, blending by alpha, nearest-neighbour
  // sampling with half-pixel offset (each target pixel's centre picks the source pixel under it).
  void DrawScaled(const Surface& source, const ui::Rect& from, const ui::Rect& to);
  // Draws one line of text in `area` in the colour, the default interface font, transparent.
  void DrawText(std::string_view text, const ui::Rect& area, Argb colour,
                TextAlign align = TextAlign::Left);
  // The pixel at (x, y) (0 outside), for tests and checks.
  Argb GetPixel(int x, int y) const;
  // Writes the surface as a PNG file (system-code-page path); false on failure.
  bool SavePng(std::string_view path) const;

  Impl& impl() const { return *m_impl; }

 private:
  std::unique_ptr<Impl> m_impl;
};

}  // namespace platform
