/* penamo:dither, a GEGL operation: penamo's seven luma-reduction filters on a whole picture,
 * through libpenamo (penamo_filter_image). One operation with a filter property, so that a GIMP
 * user compares the filters on the canvas by switching one list in one dialog; each option is
 * shown only for the filters that take it.
 *
 * The input is asked for as "R'G'B'A u16" in the input's own colour space (so no colour is
 * converted: penamo's filters change luma only, and a picture with a profile keeps its values),
 * the output given as "R'G'B'A u8" in the same space. The result is the whole picture's (the
 * diffusions carry their error across the picture, row after row), so the operation asks for the
 * whole input and fills the whole output at once; its bytes equal penamo-filter's for the same
 * picture. */
/* The labels are written in the words penamo's window and command line use; the domain has no
 * catalogue, so gettext gives them back as they are. */
#define GETTEXT_PACKAGE "penamo"
#include <glib/gi18n-lib.h>

#ifdef GEGL_PROPERTIES

/* The filters in the window's order; the nicks are penamo's filter names and the labels its
 * captions (a test checks both against the library's list). */
enum_start (penamo_dither_filter)
  enum_value (PENAMO_DITHER_PATTERN4, "pattern4", N_("4階調パターンディザ"))
  enum_value (PENAMO_DITHER_PATTERN16, "pattern16", N_("16階調パターンディザ"))
  enum_value (PENAMO_DITHER_DIFFUSION64, "diffusion64", N_("64レベル誤差拡散"))
  enum_value (PENAMO_DITHER_DIFFUSION32, "diffusion32", N_("32レベル誤差拡散"))
  enum_value (PENAMO_DITHER_DIFFUSION16, "diffusion16", N_("16レベル誤差拡散"))
  enum_value (PENAMO_DITHER_DIFFUSION, "diffusion", N_("高精度誤差拡散"))
  enum_value (PENAMO_DITHER_ORDERED, "ordered", N_("ブルーノイズディザ"))
enum_end (PenamoDitherFilter)

enum_start (penamo_dither_light)
  enum_value (PENAMO_DITHER_LIGHT_LINEAR, "linear", N_("画面の光の強さ (linear)"))
  enum_value (PENAMO_DITHER_LIGHT_ENCODED, "encoded", N_("画素の値のまま (encoded)"))
enum_end (PenamoDitherLight)

property_enum (filter, _("フィルター"), PenamoDitherFilter, penamo_dither_filter,
               PENAMO_DITHER_DIFFUSION)
  description (_("輝度を減らすフィルター。どれも画素の色 (色差) を保ち、輝度だけを減らします。"
                 "diffusion と ordered は 16 ビットの精度のまま読みます"))

property_int (strength, _("強さ"), 100)
  description (_("diffusion64, diffusion32, diffusion16 の誤差拡散の強さ (0 から 100 まで)"))
  value_range (0, 100)
  ui_meta ("visible", "filter {diffusion64, diffusion32, diffusion16}")

property_int (levels, _("階調数"), 256)
  description (_("diffusion と ordered の輝度の階調数 (2 から 256 まで、黒から白まで均等)"))
  value_range (2, 256)
  ui_meta ("visible", "filter {diffusion, ordered}")

property_boolean (grey, _("グレー"), FALSE)
  description (_("diffusion と ordered で輝度だけのグレー画像にします"))
  ui_meta ("visible", "filter {diffusion, ordered}")

property_enum (light, _("光で測る"), PenamoDitherLight, penamo_dither_light,
               PENAMO_DITHER_LIGHT_LINEAR)
  description (_("diffusion と ordered が誤差と階調の選択を測る量: linear は画面の光の強さ "
                 "(sRGB の曲線で線形にした輝度)、encoded は画素の値のまま"))
  ui_meta ("visible", "filter {diffusion, ordered}")

#else

#define GEGL_OP_FILTER
#define GEGL_OP_NAME penamo_dither
#define GEGL_OP_C_SOURCE penamo-dither.c

#include <gegl-op.h>

#include "penamo.h"

/* The library's names of the filters, in the enum's order. */
static const char *const filter_names[] = {"pattern4",  "pattern16", "diffusion64", "diffusion32",
                                           "diffusion16", "diffusion", "ordered"};

/* A picture without alpha is asked for and given without it: GEGL then copies the loaded RGB
 * samples as they are instead of converting every pixel to add an opaque channel, and the
 * result (and a PNG saved from it) has no alpha, as penamo-filter writes it. */
static gboolean
source_has_alpha (GeglOperation *operation)
{
  const Babl *source = gegl_operation_get_source_format (operation, "input");
  return source == NULL || babl_format_has_alpha (source);
}

static void
prepare (GeglOperation *operation)
{
  const Babl *space = gegl_operation_get_source_space (operation, "input");
  const gboolean alpha = source_has_alpha (operation);
  gegl_operation_set_format (operation, "input",
                             babl_format_with_space (alpha ? "R'G'B'A u16" : "R'G'B' u16", space));
  gegl_operation_set_format (operation, "output",
                             babl_format_with_space (alpha ? "R'G'B'A u8" : "R'G'B' u8", space));
}

/* The whole picture, whatever part is asked for: a pixel's result depends on every pixel before
 * it in the diffusions' order. */
static GeglRectangle
whole_input (GeglOperation *operation)
{
  const GeglRectangle *box = gegl_operation_source_get_bounding_box (operation, "input");
  GeglRectangle none = {0, 0, 0, 0};
  return box != NULL ? *box : none;
}

static GeglRectangle
get_required_for_output (GeglOperation *operation, const gchar *input_pad,
                         const GeglRectangle *roi)
{
  (void) input_pad;
  (void) roi;
  return whole_input (operation);
}

static GeglRectangle
get_cached_region (GeglOperation *operation, const GeglRectangle *roi)
{
  (void) roi;
  return whole_input (operation);
}

/* GEGL's progress (GIMP's progress bar); never cancels. */
static int
report_progress (void *user, double fraction)
{
  gegl_operation_progress ((GeglOperation *) user, fraction, "");
  return 0;
}

static gboolean
set_options (penamo_context *context, const GeglProperties *o)
{
  const char *name = filter_names[o->filter];
  const penamo_filter_info *info = penamo_filter_named (name);
  if (info == NULL || penamo_set_filter (context, name) != PENAMO_OK)
    return FALSE;
  if (info->takes_strength && penamo_set_strength (context, o->strength) != PENAMO_OK)
    return FALSE;
  if (info->takes_levels)
    {
      if (penamo_set_levels (context, o->levels) != PENAMO_OK ||
          penamo_set_grey (context, o->grey ? 1 : 0) != PENAMO_OK ||
          penamo_set_light (context, o->light == PENAMO_DITHER_LIGHT_ENCODED
                                         ? PENAMO_LIGHT_ENCODED
                                         : PENAMO_LIGHT_LINEAR) != PENAMO_OK)
        return FALSE;
    }
  return TRUE;
}

static gboolean
process (GeglOperation *operation, GeglBuffer *input, GeglBuffer *output,
         const GeglRectangle *result, gint level)
{
  GeglProperties *o = GEGL_PROPERTIES (operation);
  GeglRectangle whole = whole_input (operation);
  penamo_context *context;
  penamo_image in, out;
  guint16 *in_pixels;
  guint8 *out_pixels;
  gboolean done = FALSE;
  /* The formats prepare chose: RGBA, or RGB for a picture without alpha. */
  const Babl *in_format = gegl_operation_get_format (operation, "input");
  const Babl *out_format = gegl_operation_get_format (operation, "output");
  const int channels = babl_format_get_n_components (in_format);
  const penamo_layout layout = channels == 4 ? PENAMO_RGBA : PENAMO_RGB;

  (void) result;
  (void) level;
  if (whole.width <= 0 || whole.height <= 0)
    return TRUE;

  in_pixels = g_try_new (guint16, (gsize) whole.width * (gsize) whole.height * channels);
  out_pixels = g_try_new (guint8, (gsize) whole.width * (gsize) whole.height * channels);
  context = penamo_context_new ();
  if (in_pixels == NULL || out_pixels == NULL || context == NULL)
    {
      g_warning ("penamo:dither: %dx%d の画像のためのメモリーが足りません", whole.width,
                 whole.height);
      goto end;
    }
  if (!set_options (context, o))
    {
      g_warning ("penamo:dither: %s (%s)", penamo_message (context), penamo_reason (context));
      goto end;
    }
  penamo_set_progress (context, report_progress, operation);

  gegl_buffer_get (input, &whole, 1.0, in_format, in_pixels,
                   GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  in.pixels = in_pixels;
  in.width = whole.width;
  in.height = whole.height;
  in.stride = (size_t) whole.width * (size_t) channels * sizeof (guint16);
  in.layout = layout;
  in.depth = 16;
  out.pixels = out_pixels;
  out.width = whole.width;
  out.height = whole.height;
  out.stride = (size_t) whole.width * (size_t) channels;
  out.layout = layout;
  out.depth = 8;
  if (penamo_filter_image (context, &in, &out) != PENAMO_OK)
    {
      g_warning ("penamo:dither: %s (%s)", penamo_message (context), penamo_reason (context));
      goto end;
    }
  gegl_buffer_set (output, &whole, 0, out_format, out_pixels,
                   GEGL_AUTO_ROWSTRIDE);
  done = TRUE;

end:
  penamo_context_free (context);
  g_free (out_pixels);
  g_free (in_pixels);
  return done;
}

static void
gegl_op_class_init (GeglOpClass *klass)
{
  GeglOperationClass *operation_class = GEGL_OPERATION_CLASS (klass);
  GeglOperationFilterClass *filter_class = GEGL_OPERATION_FILTER_CLASS (klass);

  operation_class->prepare = prepare;
  operation_class->get_required_for_output = get_required_for_output;
  operation_class->get_cached_region = get_cached_region;
  /* One call over the whole picture; the library shares the work between threads itself. */
  operation_class->threaded = FALSE;
  filter_class->process = process;

  gegl_operation_class_set_keys (
      operation_class,
      "name", "penamo:dither",
      "title", _("ぺなも: 輝度のディザ"),
      "categories", "dither",
      "description",
      _("ぺなものフィルター (パターン、誤差拡散、ブルーノイズ) で画像全体の輝度を減らし、"
        "画素の色を保ったまま階調を滑らかにします。結果は penamo-filter と同じです。"),
      NULL);
}

#endif
