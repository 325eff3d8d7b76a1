// A save in one pass: the filter runs over a band of rows at a time into one small reused
// buffer, and each band is handed to the writer as soon as it is done, so the whole output
// picture never exists and the memory a save takes does not grow with the picture. The bands
// come out byte for byte as the whole-picture filters (YReduce.h) would make those rows: both
// run the very same row kernels (FilterKernels.h), the diffusions carry their column error from
// band to band, and large pictures are shared between the cores in the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "FastYCbCr.h"

namespace penamo {

class TBandWriter;
class TDeepRowSource;
class TRowSource;
struct TDeepOptions;
struct TFilterEntry;

// A band of about this many bytes of output rows (at least one row): small enough that the
// source band and the output band stay in the processor's cache between reading, filtering
// and writing.
inline constexpr std::size_t kBandBytes = 512u << 10;

struct TBandOptions {
  // Rows per band; 0 chooses bands of about kBandBytes. Small bands serve tests and fuzzing.
  std::int32_t BandRows = 0;
  // Parts the filter is shared between: 0 as many as the picture is worth (as the whole-picture
  // filters choose), 1 the calling thread alone.
  int Parts = 0;
  // Whether each band is written on a thread of its own while the next one is filtered.
  bool WriteAside = true;
};

// What a band filter's parts did so far: for a save's stage times, and for tests.
struct TPartsRecord {
  int Parts = 1;       // the threads sharing a band's rows, the calling one included
  int Sleeps = 0;      // how often a diffusion's part slept waiting for the row above
  int BandsAlone = 0;  // the diffusion's bands done by the calling thread alone after such sleeps
};

// One filter over one picture's rows, band by band. Bands must come top to bottom, starting
// with row 0, each right after the one before: the diffusions carry their error down.
class TBandFilter {
 public:
  // filter null: the rows are copied unchanged. Raises EOutOfMemory when the diffusion's error
  // row cannot be had. order: the order of the source's rows' bytes, which the filtered rows
  // keep; the same bytes either way, each pixel's channels where that order puts them.
  // writerThreads: the writer's busy threads (TBandWriter::BusyThreads); with parts 0 a diffusion
  // then leaves the writer one of the usable cores.
  TBandFilter(const TFilterEntry* filter, std::uint8_t strength, std::int32_t width,
              std::int32_t height, int parts = 0, TChannelOrder order = TChannelOrder::Bgr,
              int writerThreads = 0);
  ~TBandFilter();
  TBandFilter(const TBandFilter&) = delete;
  TBandFilter& operator=(const TBandFilter&) = delete;

  // Whether the filter refuses this strength (above 100), as the whole-picture filter does by
  // returning false; then there is nothing to filter.
  bool Refused() const { return FRefused; }

  // Rows first .. first + count - 1, from the source's current band into out (row first at out,
  // each next row stride bytes further on; 3 × width bytes of each are written, nothing else).
  void Filter(std::int32_t first, std::int32_t count, const TRowSource& source, std::uint8_t* out,
              std::size_t stride);

  TPartsRecord PartsRecord() const;

 private:
  struct TState;
  std::unique_ptr<TState> FState;
  bool FRefused = false;
};

// The whole save: every row of source through filter (null: unfiltered) into writer, band by
// band, then writer.Commit(). Returns false, having written nothing and committed nothing, when
// the picture is empty or the filter refuses the strength. Errors of the source and the writer
// (and EOutOfMemory) reach the caller; the writer is then never committed.
bool FilterInBands(const TFilterEntry* filter, std::uint8_t strength, TRowSource& source,
                   TBandWriter& writer, const TBandOptions& options = {});

// The same for a filter that reads deep rows (TFilterEntry::TakesLevels): every row of source
// through filter at deepOptions into writer, band by band, then writer.Commit(). Returns false,
// having written and committed nothing, when the picture is empty, the options are not valid or
// the filter does not read deep rows. Errors reach the caller as FilterInBands's do. The bands
// are byte for byte the rows of FilterDeepPicture.
bool FilterDeepInBands(const TFilterEntry& filter, const TDeepOptions& deepOptions,
                       TDeepRowSource& source, TBandWriter& writer,
                       const TBandOptions& options = {});

}  // namespace penamo
