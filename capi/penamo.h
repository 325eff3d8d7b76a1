/* penamo.h: the penamo library's C interface (C11; usable from C++).
 *
 * penamo smooths colour gradations: its filters reduce each pixel's luma to a few levels by
 * dithering while keeping the pixel's chroma, five for 8-bit pictures and two (an error
 * diffusion and a blue-noise dither to any level count) that read 16-bit samples. Every result
 * is defined to the bit: the same picture through the same filter and options gives exactly
 * the bytes the penamo-filter command writes, on any machine, with any number of threads.
 *
 * Conventions:
 * - Every call that can fail returns a penamo_status; PENAMO_OK is 0. After a failure the
 *   context it was given holds the message (UTF-8, the words penamo's window and command line
 *   use), a reason tag ("png-truncated") and, where known, the cause line; a success empties them.
 * - No call keeps global state: a context carries the options, the last failure and the
 *   progress callback. Separate contexts may be used on separate threads at once; one context
 *   is used by one thread at a time. penamo_filter_count, penamo_filter_at, penamo_filter_named,
 *   penamo_format_count, penamo_format_at, penamo_version, penamo_usable_cores and
 *   penamo_status_name may be called from any thread at any time.
 * - No exception, longjmp or signal crosses this interface, and the library installs no signal
 *   handler unless penamo_handle_interruptions is called.
 * - Pixels are rows of samples, top row first, each row `stride` bytes after the one before.
 *   16-bit samples are in the host's byte order; 65535 is full intensity. Colour samples are
 *   red, green, blue in that order, then alpha; alpha is straight (not premultiplied).
 * - Strings passed in are UTF-8 and NUL-terminated; strings returned stay valid as stated.
 */
#ifndef PENAMO_H
#define PENAMO_H
/* A C header, laid out as C is written ("char *name"), which clang-format leaves alone: */
/* clang-format off */

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Grows when calls are added (2: penamo_format_count, penamo_format_at, penamo_usable_cores), so
 * that a program can ask for them with #if; what it had before stays as it was. */
#define PENAMO_API_VERSION 2

typedef enum penamo_status {
  PENAMO_OK = 0,
  /* A null pointer, an unknown filter name, an option out of its range, a buffer of the wrong
   * size, layout or depth, or a call in the wrong order. */
  PENAMO_INVALID_ARGUMENT = 1,
  /* A file of a kind, or with a feature, that penamo does not read. */
  PENAMO_UNSUPPORTED = 2,
  /* A file that cannot be opened or read, or whose picture is damaged or cut short. */
  PENAMO_READ_ERROR = 3,
  /* A picture that claims far more pixels than its data can hold (see
   * penamo_set_trusted_input), or one beyond penamo's limits. */
  PENAMO_TOO_LARGE = 4,
  /* A file that cannot be created, written or put in place; the target is left as it was. */
  PENAMO_WRITE_ERROR = 5,
  PENAMO_OUT_OF_MEMORY = 6,
  /* The filter refuses the picture with these options; nothing was written. */
  PENAMO_REFUSED = 7,
  /* The progress callback asked to stop; no output file was left behind. */
  PENAMO_CANCELLED = 8,
  PENAMO_INTERNAL_ERROR = 9
} penamo_status;

/* The status's name, "PENAMO_READ_ERROR"; "PENAMO_UNKNOWN_STATUS" for a value not listed. */
const char *penamo_status_name(penamo_status status);

/* The library's version, "0.8Alpha"; static storage. */
const char *penamo_version(void);

/* The cores this process may run on (its CPU affinity, as `taskset` or a cpuset sets it), at
 * least 1: the count penamo's own work is split by, for a program that shares work out as
 * penamo does. */
int penamo_usable_cores(void);

/* ---- Filters ---- */

typedef struct penamo_filter_info {
  const char *name;    /* on the command line and in penamo_set_filter: "pattern4" */
  const char *caption; /* the window's caption, UTF-8 */
  int takes_strength;  /* non-zero: penamo_set_strength applies */
  int min_strength, max_strength, default_strength;
  int takes_levels;    /* non-zero: penamo_set_levels, penamo_set_grey and penamo_set_light apply,
                          and 16-bit samples are read at their full precision */
  int min_levels, max_levels, default_levels;
  int fixed_levels;    /* the luma levels of a filter that does not take levels (0 otherwise) */
} penamo_filter_info;

/* The filters in the window's order: the five, then the two for deep pictures. */
int penamo_filter_count(void);
/* Filter index (0 .. count - 1), or NULL; static storage. */
const penamo_filter_info *penamo_filter_at(int index);
/* The filter of that name, or NULL (also for "none", the unfiltered copy, which is not a filter
 * but is taken by penamo_set_filter). */
const penamo_filter_info *penamo_filter_named(const char *name);

/* ---- Contexts ---- */

typedef struct penamo_context penamo_context;

/* A context with the defaults of penamo-filter: filter "none", strength 100, 256 levels, colour,
 * light measured linearly, metadata kept, as many threads as the process may use. NULL when
 * memory is short. */
penamo_context *penamo_context_new(void);
/* NULL is ignored. */
void penamo_context_free(penamo_context *context);

/* The last failure's message, reason tag, cause line ("ファイル a.png: アクセス権がありません") and
 * error class name ("EReadError"); "" after a success. Valid until the next call with this
 * context. NULL context: "". */
const char *penamo_message(const penamo_context *context);
const char *penamo_reason(const penamo_context *context);
const char *penamo_cause(const penamo_context *context);
const char *penamo_error_class(const penamo_context *context);

/* A filter of penamo_filter_at's list, or "none" for the unfiltered copy. */
penamo_status penamo_set_filter(penamo_context *context, const char *name);
/* 0 .. 100; used by the filters that take a strength. */
penamo_status penamo_set_strength(penamo_context *context, int strength);
/* 2 .. 256 luma levels; used by the filters that take levels. */
penamo_status penamo_set_levels(penamo_context *context, int levels);
/* Non-zero: each pixel becomes its grey level alone (the filters that take levels). */
penamo_status penamo_set_grey(penamo_context *context, int grey);

typedef enum penamo_light {
  PENAMO_LIGHT_LINEAR = 0, /* measure error and levels in light (sRGB curve, then luminance) */
  PENAMO_LIGHT_ENCODED = 1 /* measure them in the encoded values */
} penamo_light;
penamo_status penamo_set_light(penamo_context *context, penamo_light light);

/* Non-zero: saves drop the colour profile, EXIF and XMP (alpha is always kept in a PNG). */
penamo_status penamo_set_strip(penamo_context *context, int strip);
/* Threads one picture's filtering is shared between: 0 as many as the process may use
 * (honouring its CPU affinity), 1 the calling thread alone. */
penamo_status penamo_set_threads(penamo_context *context, int threads);
/* Non-zero: pictures claiming far more pixels than their file's data can hold are read anyway
 * (only for files one trusts); by default they fail with PENAMO_TOO_LARGE. */
penamo_status penamo_set_trusted_input(penamo_context *context, int trusted);

/* Called now and then during long work with the fraction done (0 .. 1); return non-zero to
 * cancel, and the call returns PENAMO_CANCELLED. Called on the thread that made the call. NULL
 * removes it. */
typedef int (*penamo_progress_fn)(void *user, double fraction);
penamo_status penamo_set_progress(penamo_context *context, penamo_progress_fn progress,
                                  void *user);

/* ---- Buffers ---- */

typedef enum penamo_layout {
  PENAMO_GREY = 1,
  PENAMO_GREY_ALPHA = 2,
  PENAMO_RGB = 3,
  PENAMO_RGBA = 4
} penamo_layout; /* the value is the number of samples a pixel */

typedef struct penamo_image {
  void *pixels;         /* the top row's first sample */
  int32_t width;        /* pixels, at least 1 */
  int32_t height;       /* rows, at least 1 */
  size_t stride;        /* bytes from one row to the next, at least width × samples × depth / 8 */
  penamo_layout layout;
  int depth;            /* bits a sample: 8 or 16 */
} penamo_image;

/* Filters `in` (8 or 16 bits, any layout) through the context's filter into `out` (8 bits, the
 * same width and height):
 * - out RGB: the filtered colour; any alpha of `in` is dropped.
 * - out RGBA: the filtered colour and the alpha of `in` (16-bit alpha rounded to 8 bits as
 *   penamo's readers round it), 255 where `in` has none.
 * - out GREY: only with grey set; each pixel's grey level.
 * - out GREY_ALPHA: the same with alpha.
 * A grey `in` is a colour picture whose three channels are equal. The five 8-bit filters see a
 * 16-bit `in` rounded to 8 bits as penamo's readers round a 16-bit file; the deep filters see an
 * 8-bit `in` widened (v × 257). The bytes are exactly those penamo-filter writes for a file of
 * these pixels. `in` and `out` must not overlap. */
penamo_status penamo_filter_image(penamo_context *context, const penamo_image *in,
                                  const penamo_image *out);

/* ---- Band by band ---- */

/* Filtering a picture too large to hold, rows handed in top to bottom and finished rows handed
 * back at once: the diffusions carry their error from one call to the next, and the rows come
 * out byte for byte as penamo_filter_image gives them. */
typedef struct penamo_bands penamo_bands;

/* Begins a picture of width × height pixels whose rows come in in_layout at in_depth bits and
 * go out in out_layout at 8 bits (as in penamo_filter_image). The context's options are taken
 * now; the context must outlive the bands and holds their failures. */
penamo_status penamo_bands_begin(penamo_context *context, int32_t width, int32_t height,
                                 penamo_layout in_layout, int in_depth, penamo_layout out_layout,
                                 penamo_bands **bands);
/* The next `count` rows: in at in_stride bytes apart, the filtered rows written to out at
 * out_stride bytes apart. The rows of all calls together must not pass the picture's height. */
penamo_status penamo_bands_push(penamo_bands *bands, const void *in, size_t in_stride,
                                int32_t count, void *out, size_t out_stride);
/* Rows handed in so far. */
int32_t penamo_bands_rows_done(const penamo_bands *bands);
/* NULL is ignored. */
void penamo_bands_free(penamo_bands *bands);

/* ---- Files ---- */

/* The parts of a picture file beside its pixels, byte for byte as stored; NULL and 0 where
 * there are none. Never converted: penamo's filters change colour only. */
typedef struct penamo_metadata {
  const uint8_t *icc_profile;
  size_t icc_profile_size;
  const uint8_t *exif; /* from the TIFF header on, without JPEG's "Exif\0\0" */
  size_t exif_size;
  const uint8_t *xmp;
  size_t xmp_size;
} penamo_metadata;

typedef struct penamo_picture penamo_picture;

/* Reads the picture file at path (bitmap, PNG, JPEG, TIFF, WebP, GIF, HEIF, AVIF or JPEG XL) as
 * penamo reads it: upright by its EXIF orientation, RGB, or RGBA when it has transparency.
 * depth 8 gives it as the five filters see it; 16 at the file's full precision, as the deep
 * filters see it (an 8-bit file widened); 0 at 16 when the file holds more than 8 bits a sample,
 * else at 8. */
penamo_status penamo_read(penamo_context *context, const char *path, int depth,
                          penamo_picture **picture);
/* The picture's pixels, owned by the picture. */
penamo_status penamo_picture_image(const penamo_picture *picture, penamo_image *image);
/* Its colour profile, EXIF and XMP, owned by the picture. */
penamo_status penamo_picture_metadata(const penamo_picture *picture, penamo_metadata *metadata);
/* NULL is ignored. */
void penamo_picture_free(penamo_picture *picture);

typedef enum penamo_format {
  PENAMO_FORMAT_BY_NAME = 0, /* PNG when the name ends in .png (any case), else a bitmap */
  PENAMO_FORMAT_BMP = 1,     /* a 24-bit bitmap */
  PENAMO_FORMAT_PNG = 2      /* a PNG with the alpha and the metadata */
} penamo_format;

/* A kind of picture file penamo reads, and whether it writes it. */
typedef struct penamo_format_info {
  const char *name;              /* the name the window's dialogs show: "PNG", "JPEG XL" */
  const char *const *extensions; /* file-name extensions, lower case and without the dot, the
                                    usual one first ("jpg", "jpeg", ...); NULL ends the list */
  const char *const *mime_types; /* "image/png"; NULL ends the list */
  int writable;                  /* non-zero: penamo_save and penamo_filter_file write it */
  penamo_format format;          /* the value asking penamo_save for it (PENAMO_FORMAT_BY_NAME,
                                    0, for a kind only read) */
} penamo_format_info;

/* Every kind penamo reads, the bitmap first; the kinds it writes are among them. */
int penamo_format_count(void);
/* Format index (0 .. count - 1), or NULL; static storage. */
const penamo_format_info *penamo_format_at(int index);

/* Saves image (8 or 16 bits, any layout) through the context's filter to path as penamo-filter
 * saves a picture of these pixels and this metadata (NULL: none): the file appears whole under
 * its name or not at all, and an existing file is replaced only by a complete one. */
penamo_status penamo_save(penamo_context *context, const penamo_image *image,
                          const penamo_metadata *metadata, const char *path,
                          penamo_format format);

/* One file through the context's filter into another, exactly as `penamo-filter FILTER INPUT
 * OUTPUT` does it: read band by band where the file allows, so that memory stays small. */
penamo_status penamo_filter_file(penamo_context *context, const char *input, const char *output,
                                 penamo_format format);

/* What the system's error code (an errno value) means for a file, in the words of penamo's
 * messages ("アクセス権がありません"), for a program that reports its own file errors as penamo
 * does. Writes at most size bytes (NUL included) to text, which may be NULL when size is 0, and
 * returns the length of the whole text, as snprintf does. */
size_t penamo_system_cause(int error, char *text, size_t size);

/* For programs: makes Ctrl+C, kill and a closed terminal remove the output files under way
 * before the process ends, and a broken pipe a write error. Installs process-wide signal
 * handlers; a library embedding penamo should not call it. */
void penamo_handle_interruptions(void);

#ifdef __cplusplus
}
#endif

#endif /* PENAMO_H */
