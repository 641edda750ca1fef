// The cairo side of Surface, shared by both backends. Backend-private: only platform/ sees it.
#pragma once

#include "platform/surface.h"

#include <cairo.h>

#include <memory>

namespace platform {

struct Surface::Impl {
  cairo_surface_t* surface = nullptr;  // the image; null for a window's paint target
  cairo_t* cr = nullptr;
  int width = 0;
  int height = 0;
  bool ownsContext = true;
  ~Impl();
};

namespace cairo_surface {

// A surface that owns a new image surface (taken over; null when it is not usable).
std::unique_ptr<Surface> FromImage(cairo_surface_t* image);
// A surface that draws through `cr` (not owned) onto an area of the size, for paint messages.
std::unique_ptr<Surface> FromContext(cairo_t* cr, int width, int height);
// The backend's text drawing and picture decoding.
void DrawTextLine(Surface::Impl& impl, std::string_view utf8, const ui::Rect& area, Argb colour,
                  TextAlign align);
cairo_surface_t* DecodePicture(const std::string& utf8Path);

}  // namespace cairo_surface
}  // namespace platform
