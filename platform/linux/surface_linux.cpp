// Pictures through gdk-pixbuf (every format it reads) and text through Pango.
#include "platform/cairo/SurfaceCairo.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gdk/gdk.h>
#include <pango/pangocairo.h>

namespace platform::cairo_surface {

cairo_surface_t* DecodePicture(const std::string& utf8Path) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(utf8Path.c_str(), nullptr);
  if (!pixbuf) return nullptr;
  const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
  cairo_surface_t* image = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
  cairo_t* cr = cairo_create(image);
  gdk_cairo_set_source_pixbuf(cr, pixbuf, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_destroy(cr);
  g_object_unref(pixbuf);
  return image;
}

void DrawTextLine(Surface::Impl& impl, std::string_view utf8, const ui::Rect& area, Argb colour,
                  TextAlign align) {
  cairo_t* cr = impl.cr;
  cairo_save(cr);
  cairo_rectangle(cr, area.left, area.top, area.Width(), area.Height());
  cairo_clip(cr);
  PangoLayout* layout = pango_cairo_create_layout(cr);
  pango_layout_set_text(layout, utf8.data(), static_cast<int>(utf8.size()));
  pango_layout_set_single_paragraph_mode(layout, TRUE);
  PangoFontDescription* font = pango_font_description_from_string("Sans 9");
  pango_layout_set_font_description(layout, font);
  pango_font_description_free(font);
  int w = 0, h = 0;
  pango_layout_get_pixel_size(layout, &w, &h);
  const int x = align == TextAlign::Centre ? area.left + (area.Width() - w) / 2 : area.left;
  cairo_set_source_rgba(cr, ((colour >> 16) & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0,
                        (colour & 0xFF) / 255.0, ((colour >> 24) & 0xFF) / 255.0);
  cairo_move_to(cr, x, area.top + (area.Height() - h) / 2);
  pango_cairo_show_layout(cr, layout);
  g_object_unref(layout);
  cairo_restore(cr);
}

}  // namespace platform::cairo_surface
