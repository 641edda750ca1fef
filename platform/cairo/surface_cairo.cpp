#include "platform/cairo/SurfaceCairo.h"
#include "platform/text.h"

#include <string>

namespace platform {
namespace {

constexpr int kMaxSide = 16384;

void SetColour(cairo_t* cr, Argb c) {
  cairo_set_source_rgba(cr, ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0,
                        (c & 0xFF) / 255.0, ((c >> 24) & 0xFF) / 255.0);
}

}  // namespace

Surface::Impl::~Impl() {
  if (cr && ownsContext) cairo_destroy(cr);
  if (surface) cairo_surface_destroy(surface);
}

namespace cairo_surface {

std::unique_ptr<Surface> FromImage(cairo_surface_t* image) {
  if (!image) return nullptr;
  if (cairo_surface_status(image) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(image);
    return nullptr;
  }
  auto impl = std::make_unique<Surface::Impl>();
  impl->surface = image;
  impl->cr = cairo_create(image);
  impl->width = cairo_image_surface_get_width(image);
  impl->height = cairo_image_surface_get_height(image);
  return std::make_unique<Surface>(std::move(impl));
}

std::unique_ptr<Surface> FromContext(cairo_t* cr, int width, int height) {
  auto impl = std::make_unique<Surface::Impl>();
  impl->cr = cr;
  impl->ownsContext = false;
  impl->width = width;
  impl->height = height;
  return std::make_unique<Surface>(std::move(impl));
}

}  // namespace cairo_surface

Surface::Surface(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
Surface::~Surface() = default;

std::unique_ptr<Surface> Surface::Create(int width, int height, Argb fill) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return nullptr;
  auto surface =
      cairo_surface::FromImage(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  if (surface) surface->Fill({0, 0, width, height}, fill);
  return surface;
}

std::unique_ptr<Surface> Surface::LoadPicture(std::string_view path) {
  if (path.empty()) return nullptr;
  return cairo_surface::FromImage(cairo_surface::DecodePicture(SystemToUtf8(path)));
}

int Surface::Width() const { return m_impl->width; }
int Surface::Height() const { return m_impl->height; }

void Surface::Fill(const ui::Rect& area, Argb colour) {
  if (area.IsEmpty()) return;
  cairo_t* cr = m_impl->cr;
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  SetColour(cr, colour);
  cairo_rectangle(cr, area.left, area.top, area.Width(), area.Height());
  cairo_fill(cr);
  cairo_restore(cr);
}

void Surface::Copy(const Surface& source, int sx, int sy, const ui::Rect& dest) {
  if (dest.IsEmpty() || !source.m_impl->surface) return;
  cairo_surface_flush(source.m_impl->surface);
  cairo_t* cr = m_impl->cr;
  cairo_save(cr);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr, source.m_impl->surface, dest.left - sx, dest.top - sy);
  // Only the part that lies inside the source is copied; the rest of `dest` stays.
  cairo_rectangle(cr, dest.left, dest.top, dest.Width(), dest.Height());
  cairo_clip(cr);
  cairo_rectangle(cr, dest.left - sx, dest.top - sy, source.Width(), source.Height());
  cairo_fill(cr);
  cairo_restore(cr);
}

void Surface::DrawScaled(const Surface& source, const ui::Rect& from, const ui::Rect& to) {
  if (from.IsEmpty() || to.IsEmpty() || !source.m_impl->surface) return;
  cairo_surface_flush(source.m_impl->surface);
  cairo_t* cr = m_impl->cr;
  cairo_save(cr);
  cairo_rectangle(cr, to.left, to.top, to.Width(), to.Height());
  cairo_clip(cr);
  cairo_translate(cr, to.left, to.top);
  cairo_scale(cr, static_cast<double>(to.Width()) / from.Width(),
              static_cast<double>(to.Height()) / from.Height());
  cairo_set_source_surface(cr, source.m_impl->surface, -from.left, -from.top);
  cairo_pattern_t* pattern = cairo_get_source(cr);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  // Samples outside `from` repeat its edge instead of fading into transparency.
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
  cairo_rectangle(cr, 0, 0, from.Width(), from.Height());
  cairo_fill(cr);
  cairo_restore(cr);
}

void Surface::DrawText(std::string_view text, const ui::Rect& area, Argb colour,
                       TextAlign align) {
  if (area.IsEmpty() || text.empty()) return;
  cairo_surface::DrawTextLine(*m_impl, SystemToUtf8(text), area, colour, align);
}

Argb Surface::GetPixel(int x, int y) const {
  cairo_surface_t* s = m_impl->surface;
  if (!s || x < 0 || y < 0 || x >= m_impl->width || y >= m_impl->height) return 0;
  cairo_surface_flush(s);
  const unsigned char* row = cairo_image_surface_get_data(s) + y * cairo_image_surface_get_stride(s);
  const std::uint32_t p = reinterpret_cast<const std::uint32_t*>(row)[x];
  // cairo keeps premultiplied alpha; answer the straight colour.
  const std::uint32_t a = p >> 24;
  if (a == 0) return 0;
  if (a == 255) return p;
  auto un = [a](std::uint32_t c) { return (c * 255 + a / 2) / a; };
  return (a << 24) | (un((p >> 16) & 0xFF) << 16) | (un((p >> 8) & 0xFF) << 8) | un(p & 0xFF);
}

bool Surface::SavePng(std::string_view path) const {
  if (!m_impl->surface) return false;
  cairo_surface_flush(m_impl->surface);
  return cairo_surface_write_to_png(m_impl->surface, SystemToUtf8(path).c_str()) ==
         CAIRO_STATUS_SUCCESS;
}

}  // namespace platform
