// Pictures and text without a display: cairo's own PNG reader and its simple text drawing.
#include "platform/cairo/SurfaceCairo.h"

namespace platform::cairo_surface {

cairo_surface_t* DecodePicture(const std::string& utf8Path) {
  return cairo_image_surface_create_from_png(utf8Path.c_str());
}

void DrawTextLine(Surface::Impl& impl, std::string_view utf8, const ui::Rect& area, Argb colour,
                  TextAlign align) {
  cairo_t* cr = impl.cr;
  const std::string text(utf8);
  cairo_save(cr);
  cairo_rectangle(cr, area.left, area.top, area.Width(), area.Height());
  cairo_clip(cr);
  cairo_select_font_face(cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 12);
  cairo_text_extents_t extents;
  cairo_text_extents(cr, text.c_str(), &extents);
  double x = area.left;
  if (align == TextAlign::Centre) x += (area.Width() - extents.x_advance) / 2;
  const double y = area.top + (area.Height() - extents.height) / 2 - extents.y_bearing;
  cairo_set_source_rgba(cr, ((colour >> 16) & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                        (colour & 0xFF) / 255.0, ((colour >> 24) & 0xFF) / 255.0);
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, text.c_str());
  cairo_restore(cr);
}

}  // namespace platform::cairo_surface
