// The Python module `penamo` (its compiled half, penamo._penamo): a thin client of the C
// interface in capi/penamo.h. numpy arrays go in and out; every call makes a context of its own,
// so calls on separate threads never share one; the interpreter lock is released while the
// library works; a failed status becomes a penamo.Error subclass carrying the library's message,
// reason tag and cause line.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "penamo.h"

namespace py = pybind11;

namespace {

// ---- Errors ----

// The exception classes, made once when the module is imported and kept by the module.
struct TErrorClasses {
  PyObject* Base = nullptr;
  PyObject* ByStatus[PENAMO_INTERNAL_ERROR + 1] = {};
};
TErrorClasses ErrorClasses;

// A failure on its way to Python: what the library (or this module) said.
struct TFailure {
  penamo_status Status;
  std::string Message, Reason, Cause, ErrorClass;
};

[[noreturn]] void Fail(penamo_status status, std::string message, std::string reason) {
  throw TFailure{status, std::move(message), std::move(reason), "", ""};
}

[[noreturn]] void FailFromContext(penamo_status status, const penamo_context* context) {
  throw TFailure{status, penamo_message(context), penamo_reason(context), penamo_cause(context),
                 penamo_error_class(context)};
}

// Raises the failure as an instance of its status's class. str() of it is the message with the
// cause on a line of its own, as penamo-filter prints it; the parts are attributes.
void RaiseFailure(const TFailure& failure) {
  PyObject* type = failure.Status > PENAMO_OK && failure.Status <= PENAMO_INTERNAL_ERROR
                       ? ErrorClasses.ByStatus[failure.Status]
                       : ErrorClasses.ByStatus[PENAMO_INTERNAL_ERROR];
  std::string text = failure.Message.empty() ? penamo_status_name(failure.Status) : failure.Message;
  if (!failure.Cause.empty()) text += "\n" + failure.Cause;
  py::object error = py::reinterpret_borrow<py::object>(type)(py::str(text));
  error.attr("message") = py::str(failure.Message);
  error.attr("reason") = py::str(failure.Reason);
  error.attr("cause") = py::str(failure.Cause);
  error.attr("error_class") = py::str(failure.ErrorClass);
  error.attr("status") = py::str(penamo_status_name(failure.Status));
  PyErr_SetObject(type, error.ptr());
}

void Check(penamo_status status, const penamo_context* context) {
  if (status != PENAMO_OK) FailFromContext(status, context);
}

// ---- Contexts and options ----

struct TContextDeleter {
  void operator()(penamo_context* context) const { penamo_context_free(context); }
};
using TContext = std::unique_ptr<penamo_context, TContextDeleter>;

TContext NewContext() {
  TContext context(penamo_context_new());
  if (!context) throw std::bad_alloc();
  return context;
}

// The options a call names; None (nullopt) leaves the library's default.
struct TOptions {
  std::string Filter = "none";
  std::optional<int> Strength;
  std::optional<int> Levels;
  bool Grey = false;
  std::optional<std::string> Light;
  bool Strip = false;
  int Threads = 0;
  bool Trusted = false;
};

// An option the filter does not take is refused, as penamo-filter refuses it, rather than
// silently ignored: a caller who asks for 4 levels from a filter with fixed levels would
// otherwise get a picture other than the one asked for.
void RefuseUntaken(const std::string& filter, const char* option) {
  Fail(PENAMO_INVALID_ARGUMENT, filter + " は " + option + " を使いません", "option-not-taken");
}

void Apply(penamo_context* context, const TOptions& options) {
  Check(penamo_set_filter(context, options.Filter.c_str()), context);
  const penamo_filter_info* info = penamo_filter_named(options.Filter.c_str());
  const bool takesStrength = info != nullptr && info->takes_strength != 0;
  const bool takesLevels = info != nullptr && info->takes_levels != 0;
  if (options.Strength) {
    if (!takesStrength) RefuseUntaken(options.Filter, "strength");
    Check(penamo_set_strength(context, *options.Strength), context);
  }
  if (options.Levels) {
    if (!takesLevels) RefuseUntaken(options.Filter, "levels");
    Check(penamo_set_levels(context, *options.Levels), context);
  }
  if (options.Grey) {
    if (!takesLevels) RefuseUntaken(options.Filter, "grey");
    Check(penamo_set_grey(context, 1), context);
  }
  if (options.Light) {
    if (!takesLevels) RefuseUntaken(options.Filter, "light");
    penamo_light light;
    if (*options.Light == "linear") {
      light = PENAMO_LIGHT_LINEAR;
    } else if (*options.Light == "encoded") {
      light = PENAMO_LIGHT_ENCODED;
    } else {
      Fail(PENAMO_INVALID_ARGUMENT,
           "light は linear か encoded です (" + *options.Light + " は使えません)",
           "unknown-light");
    }
    Check(penamo_set_light(context, light), context);
  }
  Check(penamo_set_strip(context, options.Strip ? 1 : 0), context);
  Check(penamo_set_threads(context, options.Threads), context);
  Check(penamo_set_trusted_input(context, options.Trusted ? 1 : 0), context);
}

penamo_format FormatNamed(const std::optional<std::string>& name) {
  if (!name || *name == "by-name") return PENAMO_FORMAT_BY_NAME;
  if (*name == "png") return PENAMO_FORMAT_PNG;
  if (*name == "bmp") return PENAMO_FORMAT_BMP;
  Fail(PENAMO_INVALID_ARGUMENT,
       "format は png, bmp, by-name のどれかです (" + *name + " は使えません)", "unknown-format");
}

// A path as the file system spells it: str, bytes or any os.PathLike, through os.fsencode, so a
// name that is not valid UTF-8 still names its file.
std::string PathBytes(const py::object& path) {
  return py::module_::import("os").attr("fsencode")(path).cast<std::string>();
}

// ---- Progress and interruption ----

// Relays the library's progress calls to the caller's callback, with the interpreter lock taken
// only for that moment, and turns Ctrl+C (a pending KeyboardInterrupt) into a cancel, so a long
// call can always be stopped. An exception from the callback cancels the work and is raised
// once the library has returned.
struct TProgressRelay {
  py::object Callback;
  std::optional<py::error_already_set> Raised;

  static int Call(void* user, double fraction) {
    auto* relay = static_cast<TProgressRelay*>(user);
    py::gil_scoped_acquire gil;
    if (relay->Raised) return 1;
    try {
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
      if (!relay->Callback.is_none() && py::bool_(relay->Callback(fraction))) return 1;
    } catch (py::error_already_set& error) {
      relay->Raised.emplace(std::move(error));
      return 1;
    }
    return 0;
  }
};

// Runs work (a library call) with the interpreter lock released and raises what it returned.
template <class TWork>
void RunReleased(penamo_context* context, const py::object& progress, TWork&& work) {
  TProgressRelay relay{progress, std::nullopt};
  Check(penamo_set_progress(context, &TProgressRelay::Call, &relay), context);
  penamo_status status;
  {
    py::gil_scoped_release released;
    status = work();
  }
  if (relay.Raised) throw std::move(*relay.Raised);
  Check(status, context);
  // Only after the status is read: a call that succeeds empties the context's failure.
  penamo_set_progress(context, nullptr, nullptr);
}

// ---- Arrays ----

// A caller's array as the library sees it; Keep holds the array (or its copy) alive.
struct TInput {
  py::array Keep;
  penamo_image Image{};
};

penamo_layout LayoutOfChannels(py::ssize_t channels) {
  switch (channels) {
    case 1:
      return PENAMO_GREY;
    case 2:
      return PENAMO_GREY_ALPHA;
    case 3:
      return PENAMO_RGB;
    case 4:
      return PENAMO_RGBA;
    default:
      return static_cast<penamo_layout>(0);
  }
}

// Whether the library can read the array's memory as it is: the library takes rows at any
// positive stride, but the samples of a row packed (pixel after pixel, channel after channel)
// and 16-bit samples aligned in the host's byte order. Strides of a dimension of size 1 do not
// matter (numpy gives them freely).
bool LibraryReadsInPlace(const py::array& array, py::ssize_t channels) {
  const py::ssize_t item = array.itemsize();
  if (!array.dtype().attr("isnative").cast<bool>()) return false;
  if (array.ndim() == 3 && channels > 1 && array.strides(2) != item) return false;
  if (array.shape(1) > 1 && array.strides(1) != channels * item) return false;
  if (array.shape(0) > 1 && array.strides(0) < array.shape(1) * channels * item) return false;
  if (reinterpret_cast<std::uintptr_t>(array.data()) % static_cast<std::uintptr_t>(item) != 0)
    return false;
  if (array.shape(0) > 1 && array.strides(0) % item != 0) return false;
  return true;
}

// Takes any array-like (a numpy array, a Pillow image, nested lists) of uint8 or uint16 samples
// in one of the layouts H × W (grey), H × W × 1 (grey), H × W × 2 (grey and alpha), H × W × 3
// (RGB) or H × W × 4 (RGBA). The array's own memory is read where its strides allow, else a
// packed copy (LibraryReadsInPlace says when).
TInput TakeArray(const py::object& pixels) {
  py::module_ numpy = py::module_::import("numpy");
  py::array array = py::isinstance<py::array>(pixels) ? py::reinterpret_borrow<py::array>(pixels)
                                                      : py::array(numpy.attr("asarray")(pixels));
  const py::dtype dtype = array.dtype();
  const char kind = dtype.kind();
  int depth = 0;
  if (kind == 'u' && dtype.itemsize() == 1) depth = 8;
  if (kind == 'u' && dtype.itemsize() == 2) depth = 16;
  if (depth == 0)
    Fail(PENAMO_INVALID_ARGUMENT,
         "配列の型 " + py::str(py::handle(dtype)).cast<std::string>() +
             " は扱えません (uint8 か uint16 の配列を渡してください)",
         "unsupported-dtype");
  const py::ssize_t channels = array.ndim() == 2 ? 1 : array.ndim() == 3 ? array.shape(2) : 0;
  const penamo_layout layout = LayoutOfChannels(channels);
  if (layout == 0)
    Fail(PENAMO_INVALID_ARGUMENT,
         "配列の形 " + py::str(py::tuple(array.attr("shape"))).cast<std::string>() +
             " は扱えません (高さ × 幅、または高さ × 幅 × 1, 2, 3, 4 の配列を渡してください)",
         "unsupported-shape");
  if (array.shape(0) == 0 || array.shape(1) == 0)
    Fail(PENAMO_INVALID_ARGUMENT, "画像が空です", "empty-picture");
  constexpr py::ssize_t kMaxSide = std::numeric_limits<std::int32_t>::max();
  if (array.shape(0) > kMaxSide || array.shape(1) > kMaxSide)
    Fail(PENAMO_TOO_LARGE, "画像が大きすぎます", "too-large");
  if (!LibraryReadsInPlace(array, channels)) {
    py::object native = dtype.attr("newbyteorder")("=");
    array = py::array(numpy.attr("ascontiguousarray")(array, native));
  }
  TInput input;
  input.Keep = array;
  input.Image.pixels = const_cast<void*>(array.data());
  input.Image.width = static_cast<std::int32_t>(array.shape(1));
  input.Image.height = static_cast<std::int32_t>(array.shape(0));
  input.Image.stride = array.shape(0) > 1
                           ? static_cast<std::size_t>(array.strides(0))
                           : static_cast<std::size_t>(array.shape(1) * channels * array.itemsize());
  input.Image.layout = layout;
  input.Image.depth = depth;
  return input;
}

bool HasAlpha(penamo_layout layout) {
  return layout == PENAMO_GREY_ALPHA || layout == PENAMO_RGBA;
}

// ---- Calls ----

py::list Filters() {
  py::list list;
  for (int i = 0; i < penamo_filter_count(); ++i) {
    const penamo_filter_info* info = penamo_filter_at(i);
    py::dict entry;
    entry["name"] = py::str(info->name);
    entry["caption"] = py::str(info->caption);
    entry["strength"] = info->takes_strength
                            ? py::object(py::make_tuple(info->min_strength, info->max_strength,
                                                        info->default_strength))
                            : py::object(py::none());
    entry["levels"] =
        info->takes_levels
            ? py::object(py::make_tuple(info->min_levels, info->max_levels, info->default_levels))
            : py::object(py::none());
    entry["fixed_levels"] =
        info->fixed_levels != 0 ? py::object(py::int_(info->fixed_levels)) : py::object(py::none());
    list.append(entry);
  }
  return list;
}

py::list Formats() {
  const auto listed = [](const char* const* texts) {
    py::list list;
    for (; *texts != nullptr; ++texts)
      list.append(py::str(*texts));
    return list;
  };
  py::list list;
  for (int i = 0; i < penamo_format_count(); ++i) {
    const penamo_format_info* info = penamo_format_at(i);
    py::dict entry;
    entry["name"] = py::str(info->name);
    entry["extensions"] = listed(info->extensions);
    entry["mime_types"] = listed(info->mime_types);
    entry["writable"] = py::bool_(info->writable != 0);
    list.append(entry);
  }
  return list;
}

// The array the filtered pixels go to: given (out=, reused by a caller who filters many pictures
// of one size, so no new memory is touched each time) or made here. A given one must have the
// result's shape, uint8 samples, be writable and have its rows' samples packed (any row stride).
py::array OutputArray(const py::object& given, py::ssize_t height, py::ssize_t width,
                      penamo_layout layout) {
  const py::ssize_t channels = layout;
  if (given.is_none()) {
    if (layout == PENAMO_GREY) return py::array_t<std::uint8_t>({height, width});
    return py::array_t<std::uint8_t>({height, width, channels});
  }
  std::string expected = "(" + std::to_string(height) + ", " + std::to_string(width);
  if (layout != PENAMO_GREY) expected += ", " + std::to_string(channels);
  expected += ")";
  if (!py::isinstance<py::array>(given))
    Fail(PENAMO_INVALID_ARGUMENT, "out には uint8 の配列 " + expected + " を渡してください",
         "unsupported-out");
  py::array out = py::reinterpret_borrow<py::array>(given);
  const bool shaped = layout == PENAMO_GREY
                          ? out.ndim() == 2 && out.shape(0) == height && out.shape(1) == width
                          : out.ndim() == 3 && out.shape(0) == height && out.shape(1) == width &&
                                out.shape(2) == channels;
  if (!shaped || out.dtype().kind() != 'u' || out.itemsize() != 1 || !out.writeable() ||
      !LibraryReadsInPlace(out, channels))
    Fail(PENAMO_INVALID_ARGUMENT,
         "out には書き込める uint8 の配列 " + expected +
             " (行の中の画素が詰まったもの) を渡してください",
         "unsupported-out");
  return out;
}

py::array Filter(const py::object& pixels, const TOptions& options, const py::object& given,
                 const py::object& progress) {
  const TContext context = NewContext();
  Apply(context.get(), options);
  const TInput input = TakeArray(pixels);
  const bool alpha = HasAlpha(input.Image.layout);
  penamo_layout outLayout = alpha ? PENAMO_RGBA : PENAMO_RGB;
  if (options.Grey) outLayout = alpha ? PENAMO_GREY_ALPHA : PENAMO_GREY;
  const py::ssize_t height = input.Image.height, width = input.Image.width;
  py::array out = OutputArray(given, height, width, outLayout);
  // The library's input and output must not overlap.
  if (!given.is_none() &&
      py::module_::import("numpy").attr("shares_memory")(out, input.Keep).cast<bool>())
    Fail(PENAMO_INVALID_ARGUMENT, "out は入力の配列と重ならない配列にしてください", "out-overlaps");
  penamo_image image{};
  image.pixels = out.mutable_data();
  image.width = input.Image.width;
  image.height = input.Image.height;
  image.stride = height > 1 ? static_cast<std::size_t>(out.strides(0))
                            : static_cast<std::size_t>(width) * static_cast<std::size_t>(outLayout);
  image.layout = outLayout;
  image.depth = 8;
  RunReleased(context.get(), progress,
              [&] { return penamo_filter_image(context.get(), &input.Image, &image); });
  return out;
}

py::object BytesOrNone(const std::uint8_t* data, std::size_t size) {
  if (data == nullptr || size == 0) return py::none();
  return py::bytes(reinterpret_cast<const char*>(data), size);
}

struct TPictureDeleter {
  void operator()(penamo_picture* picture) const { penamo_picture_free(picture); }
};

// The picture's pixels as an array over the picture's own memory (no copy): the array owns the
// picture and frees it when the last view of it goes.
py::tuple Read(const py::object& path, int depth, bool trusted, const py::object& progress) {
  const TContext context = NewContext();
  Check(penamo_set_trusted_input(context.get(), trusted ? 1 : 0), context.get());
  const std::string name = PathBytes(path);
  penamo_picture* read = nullptr;
  RunReleased(context.get(), progress,
              [&] { return penamo_read(context.get(), name.c_str(), depth, &read); });
  std::unique_ptr<penamo_picture, TPictureDeleter> picture(read);
  penamo_image image{};
  Check(penamo_picture_image(picture.get(), &image), context.get());
  penamo_metadata metadata{};
  Check(penamo_picture_metadata(picture.get(), &metadata), context.get());
  py::dict extras;
  extras["icc_profile"] = BytesOrNone(metadata.icc_profile, metadata.icc_profile_size);
  extras["exif"] = BytesOrNone(metadata.exif, metadata.exif_size);
  extras["xmp"] = BytesOrNone(metadata.xmp, metadata.xmp_size);
  const py::ssize_t item = image.depth / 8;
  const py::ssize_t channels = image.layout;
  const py::dtype dtype =
      image.depth == 16 ? py::dtype::of<std::uint16_t>() : py::dtype::of<std::uint8_t>();
  py::capsule owner(picture.get(),
                    [](void* held) { penamo_picture_free(static_cast<penamo_picture*>(held)); });
  picture.release();
  py::array pixels(dtype, {py::ssize_t{image.height}, py::ssize_t{image.width}, channels},
                   {static_cast<py::ssize_t>(image.stride), channels * item, item}, image.pixels,
                   owner);
  return py::make_tuple(pixels, extras);
}

// Bytes of an object given for a piece of metadata (bytes-like or None).
std::optional<std::string> MetadataBytes(const py::object& value) {
  if (value.is_none()) return std::nullopt;
  return py::bytes(value).cast<std::string>();
}

void Save(const py::object& pixels, const py::object& path, const TOptions& options,
          const std::optional<std::string>& format, const py::object& metadata,
          const py::object& progress) {
  const TContext context = NewContext();
  Apply(context.get(), options);
  const penamo_format chosen = FormatNamed(format);
  const TInput input = TakeArray(pixels);
  const std::string name = PathBytes(path);
  std::optional<std::string> profile, exif, xmp;
  if (!metadata.is_none()) {
    const py::dict given = py::dict(metadata);
    for (auto item : given) {
      const std::string key = py::str(item.first);
      if (key == "icc_profile") {
        profile = MetadataBytes(py::reinterpret_borrow<py::object>(item.second));
      } else if (key == "exif") {
        exif = MetadataBytes(py::reinterpret_borrow<py::object>(item.second));
      } else if (key == "xmp") {
        xmp = MetadataBytes(py::reinterpret_borrow<py::object>(item.second));
      } else {
        Fail(PENAMO_INVALID_ARGUMENT,
             "metadata のキーは icc_profile, exif, xmp です (" + key + " は使えません)",
             "unknown-metadata");
      }
    }
  }
  penamo_metadata extras{};
  auto bytesOf = [](const std::optional<std::string>& held) {
    return held ? reinterpret_cast<const std::uint8_t*>(held->data()) : nullptr;
  };
  extras.icc_profile = bytesOf(profile);
  extras.icc_profile_size = profile ? profile->size() : 0;
  extras.exif = bytesOf(exif);
  extras.exif_size = exif ? exif->size() : 0;
  extras.xmp = bytesOf(xmp);
  extras.xmp_size = xmp ? xmp->size() : 0;
  RunReleased(context.get(), progress, [&] {
    return penamo_save(context.get(), &input.Image, &extras, name.c_str(), chosen);
  });
}

void FilterFile(const py::object& input, const py::object& output, const TOptions& options,
                const std::optional<std::string>& format, const py::object& progress) {
  const TContext context = NewContext();
  Apply(context.get(), options);
  const penamo_format chosen = FormatNamed(format);
  const std::string from = PathBytes(input), to = PathBytes(output);
  RunReleased(context.get(), progress,
              [&] { return penamo_filter_file(context.get(), from.c_str(), to.c_str(), chosen); });
}

TOptions OptionsOf(std::string filter, std::optional<int> strength, std::optional<int> levels,
                   bool grey, std::optional<std::string> light, bool strip, int threads,
                   bool trusted) {
  return TOptions{std::move(filter), strength, levels,  grey,
                  std::move(light),  strip,    threads, trusted};
}

// The exception classes: penamo.Error, and one subclass per failing status.
void AddErrorClasses(py::module_& module) {
  ErrorClasses.Base = PyErr_NewExceptionWithDoc(
      "penamo.Error",
      "A call of penamo failed. str() is the message (Japanese, as penamo's window and "
      "penamo-filter word it) and, on a line of its own, the cause; the attributes message, "
      "reason (a tag such as 'png-truncated'), cause, error_class and status (the C "
      "interface's status name) hold the parts.",
      PyExc_Exception, nullptr);
  if (ErrorClasses.Base == nullptr) throw py::error_already_set();
  module.add_object("Error", py::handle(ErrorClasses.Base));
  struct TClass {
    penamo_status Status;
    const char* Name;
    const char* Doc;
    PyObject* AlsoA;
  };
  const TClass classes[] = {
      {PENAMO_INVALID_ARGUMENT, "InvalidArgumentError",
       "An array, filter name or option that penamo does not take (also a ValueError).",
       PyExc_ValueError},
      {PENAMO_UNSUPPORTED, "UnsupportedError",
       "A file of a kind, or with a feature, that penamo does not read.", nullptr},
      {PENAMO_READ_ERROR, "ReadError",
       "A file that cannot be opened or read, or whose picture is damaged or cut short.", nullptr},
      {PENAMO_TOO_LARGE, "TooLargeError",
       "A picture claiming far more pixels than its file holds (see trusted=True), or beyond "
       "penamo's limits.",
       nullptr},
      {PENAMO_WRITE_ERROR, "WriteError",
       "A file that cannot be created, written or put in place; the target is left as it was.",
       nullptr},
      {PENAMO_OUT_OF_MEMORY, "OutOfMemoryError", "Memory ran short.", nullptr},
      {PENAMO_REFUSED, "RefusedError",
       "The filter refuses the picture with these options; nothing was written.", nullptr},
      {PENAMO_CANCELLED, "CancelledError",
       "The progress callback asked to stop; no output file was left behind.", nullptr},
      {PENAMO_INTERNAL_ERROR, "InternalError", "A fault inside penamo.", nullptr},
  };
  for (const TClass& entry : classes) {
    const std::string qualified = std::string("penamo.") + entry.Name;
    py::object bases =
        entry.AlsoA != nullptr
            ? py::object(py::make_tuple(py::handle(ErrorClasses.Base), py::handle(entry.AlsoA)))
            : py::object(py::reinterpret_borrow<py::object>(ErrorClasses.Base));
    PyObject* made = PyErr_NewExceptionWithDoc(qualified.c_str(), entry.Doc, bases.ptr(), nullptr);
    if (made == nullptr) throw py::error_already_set();
    ErrorClasses.ByStatus[entry.Status] = made;
    module.add_object(entry.Name, py::handle(made));
  }
}

}  // namespace

PYBIND11_MODULE(_penamo, module) {
  module.doc() =
      "penamo's filters on numpy arrays and picture files, through libpenamo's C interface.";
  AddErrorClasses(module);
  py::register_exception_translator([](std::exception_ptr raised) {
    try {
      if (raised) std::rethrow_exception(raised);
    } catch (const TFailure& failure) {
      RaiseFailure(failure);
    }
  });
  module.attr("__version__") = py::str(penamo_version());
  module.attr("API_VERSION") = py::int_(PENAMO_API_VERSION);

  module.def("filters", &Filters,
             "The filters in the window's order, each a dict: name, caption (Japanese), "
             "strength and levels as (minimum, maximum, default) or None where the filter does "
             "not take them, fixed_levels (the luma levels of a filter without a levels option) "
             "or None.");

  module.def("formats", &Formats,
             "The kinds of picture file penamo reads, the bitmap first, each a dict: name (as "
             "the window's dialogs show it), extensions (lower case, without the dot, the usual "
             "one first), mime_types, writable (whether save and filter_file write it).");

  module.def(
      "filter",
      [](const py::object& pixels, std::string filter, std::optional<int> strength,
         std::optional<int> levels, bool grey, std::optional<std::string> light, int threads,
         const py::object& out, const py::object& progress) {
        return Filter(pixels,
                      OptionsOf(std::move(filter), strength, levels, grey, std::move(light), false,
                                threads, false),
                      out, progress);
      },
      py::arg("pixels"), py::arg("filter"), py::kw_only(), py::arg("strength") = py::none(),
      py::arg("levels") = py::none(), py::arg("grey") = false, py::arg("light") = py::none(),
      py::arg("threads") = 0, py::arg("out") = py::none(), py::arg("progress") = py::none(),
      "Filters an array of uint8 or uint16 samples (H×W or H×W×1 grey, H×W×2 grey and alpha, "
      "H×W×3 RGB, H×W×4 RGBA; any strides; a Pillow image works through numpy.asarray) and "
      "returns a new uint8 array: H×W×3, or H×W×4 keeping the alpha; with grey=True H×W, or "
      "H×W×2 with the alpha. The bytes are those penamo-filter writes for a file of these "
      "pixels. filter: a name of filters(), or 'none'. strength applies to the filters that "
      "take one; levels, grey and light ('linear' or 'encoded') to diffusion and ordered; "
      "naming an option the filter does not take raises InvalidArgumentError. threads: 0 as "
      "many as the process may use. out: an array of the result's shape and uint8 samples "
      "(rows at any stride) to write into and return instead of a new one. progress(fraction) is "
      "called now and then; a true result "
      "cancels (CancelledError). The interpreter lock is released while it works; Ctrl+C "
      "stops it.");

  module.def(
      "read",
      [](const py::object& path, int depth, bool trusted, const py::object& progress) {
        return Read(path, depth, trusted, progress);
      },
      py::arg("path"), py::arg("depth") = 0, py::kw_only(), py::arg("trusted") = false,
      py::arg("progress") = py::none(),
      "Reads a picture file (bitmap, PNG, JPEG, TIFF, WebP, GIF, HEIF, AVIF, JPEG XL) as "
      "penamo reads it, upright by its EXIF orientation, and returns (pixels, metadata): "
      "pixels an H×W×3 or, with transparency, H×W×4 array; metadata a dict of icc_profile, "
      "exif and xmp (bytes or None). depth 8 gives uint8 as the five filters see it, 16 "
      "uint16 at the file's full precision, 0 uint16 when the file holds more than 8 bits a "
      "sample, else uint8. trusted=True reads pictures that claim far more pixels than their "
      "file holds.");

  module.def(
      "save",
      [](const py::object& pixels, const py::object& path, std::string filter,
         std::optional<std::string> format, std::optional<int> strength, std::optional<int> levels,
         bool grey, std::optional<std::string> light, bool strip, int threads,
         const py::object& metadata, const py::object& icc_profile, const py::object& exif,
         const py::object& xmp, const py::object& progress) {
        py::dict extras = metadata.is_none() ? py::dict() : py::dict(metadata);
        if (!icc_profile.is_none()) extras["icc_profile"] = icc_profile;
        if (!exif.is_none()) extras["exif"] = exif;
        if (!xmp.is_none()) extras["xmp"] = xmp;
        Save(pixels, path,
             OptionsOf(std::move(filter), strength, levels, grey, std::move(light), strip, threads,
                       false),
             format, extras, progress);
      },
      py::arg("pixels"), py::arg("path"), py::arg("filter") = "none", py::kw_only(),
      py::arg("format") = py::none(), py::arg("strength") = py::none(),
      py::arg("levels") = py::none(), py::arg("grey") = false, py::arg("light") = py::none(),
      py::arg("strip") = false, py::arg("threads") = 0, py::arg("metadata") = py::none(),
      py::arg("icc_profile") = py::none(), py::arg("exif") = py::none(),
      py::arg("xmp") = py::none(), py::arg("progress") = py::none(),
      "Saves an array (as filter() takes it) through the filter to path, as penamo-filter "
      "saves a picture of these pixels: format 'png', 'bmp' or None (PNG when the name ends "
      "in .png, else a 24-bit bitmap). A PNG keeps the alpha and the metadata: a dict as "
      "read() returns it, or icc_profile, exif and xmp given one by one (they win over the "
      "dict's); strip=True leaves them out. The file appears whole or not at all; an existing "
      "file is replaced only by a complete one.");

  module.def(
      "filter_file",
      [](const py::object& input, const py::object& output, std::string filter,
         std::optional<std::string> format, std::optional<int> strength, std::optional<int> levels,
         bool grey, std::optional<std::string> light, bool strip, int threads, bool trusted,
         const py::object& progress) {
        FilterFile(input, output,
                   OptionsOf(std::move(filter), strength, levels, grey, std::move(light), strip,
                             threads, trusted),
                   format, progress);
      },
      py::arg("input"), py::arg("output"), py::arg("filter") = "none", py::kw_only(),
      py::arg("format") = py::none(), py::arg("strength") = py::none(),
      py::arg("levels") = py::none(), py::arg("grey") = false, py::arg("light") = py::none(),
      py::arg("strip") = false, py::arg("threads") = 0, py::arg("trusted") = false,
      py::arg("progress") = py::none(),
      "One file through the filter into another, exactly as `penamo-filter FILTER INPUT "
      "OUTPUT` does it, band by band where the file allows, so that memory stays small.");
}
