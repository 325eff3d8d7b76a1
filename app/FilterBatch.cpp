#include "FilterBatch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "BatchPlan.h"

namespace penamo {
namespace {

// "1 分 5 秒" or "12 秒".
std::string DurationText(std::chrono::seconds duration) {
  const auto total = std::max<std::int64_t>(0, duration.count());
  if (total < 60) return std::to_string(total) + " 秒";
  if (total < 3600) return std::to_string(total / 60) + " 分 " + std::to_string(total % 60) + " 秒";
  return std::to_string(total / 3600) + " 時間 " + std::to_string(total / 60 % 60) + " 分";
}

// The batch's progress and messages on standard error. Messages may come from several saves at
// once and are written whole, one at a time; on a terminal a progress line (files done of all,
// time left) stays below them, redrawn in place. Off a terminal there is no progress line at all,
// only the messages.
class TBatchReport {
 public:
  TBatchReport(std::size_t total, bool terminal)
      : FTotal(total), FTerminal(terminal), FStart(std::chrono::steady_clock::now()) {
    DrawLine();  // before any save can start, so the count begins at 0
  }

  void Done(bool saved, const std::string& input, const std::string& lines) {
    const std::lock_guard<std::mutex> guard(FLock);
    ++FDone;
    if (!saved) {
      ++FFailed;
      ClearLine();
      std::cerr << input << ": " << lines << std::flush;
    }
    DrawLine();
    FChanged.notify_all();
  }

  // Redraws the progress line every second (so the time left counts down) until every picture
  // is done; then leaves the last counts on their own line.
  void Follow() {
    std::unique_lock<std::mutex> lock(FLock);
    while (FDone < FTotal) {
      FChanged.wait_for(lock, std::chrono::seconds(1));
      DrawLine();
    }
    if (FTerminal) {
      ClearLine();
      std::cerr << FDone - FFailed << " / " << FTotal << " ファイルを保存しました ("
                << DurationText(Elapsed()) << ")\n";
    }
    if (FFailed > 0)
      std::cerr << FTotal << " 個のファイルのうち " << FFailed << " 個を保存できませんでした\n";
    std::cerr << std::flush;
  }

  std::size_t Failed() const {
    const std::lock_guard<std::mutex> guard(FLock);
    return FFailed;
  }

 private:
  std::chrono::seconds Elapsed() const {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                            FStart);
  }

  void ClearLine() {
    if (FTerminal) std::cerr << "\r\033[K";
  }

  void DrawLine() {
    if (!FTerminal) return;
    std::string line = std::to_string(FDone) + " / " + std::to_string(FTotal) + " ファイル完了";
    if (FDone > 0 && FDone < FTotal) {
      const auto elapsed = std::chrono::steady_clock::now() - FStart;
      const auto left =
          elapsed * static_cast<std::int64_t>(FTotal - FDone) / static_cast<std::int64_t>(FDone);
      line += "、残り約 " + DurationText(std::chrono::ceil<std::chrono::seconds>(left));
    }
    std::cerr << "\r" << line << "\033[K" << std::flush;
  }

  const std::size_t FTotal;
  const bool FTerminal;
  const std::chrono::steady_clock::time_point FStart;
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::size_t FDone = 0;
  std::size_t FFailed = 0;
};

// At most kMostPicturesAtOnce, however many cores: each picture under way holds its own bands
// (or, for a file read whole, its whole picture), and the interruption handlers keep track of
// 16 temporary files at once (SaveInterruption.cpp), which the saves under way must not outnumber.
constexpr std::size_t kMostPicturesAtOnce = 8;

// How many pictures are saved side by side: one per core, never more than there are pictures.
// The filters and the PNG writer share one picture between the cores only in part (reading, the
// deep diffusion and the small pictures' filters run on one core), so pictures side by side keep
// every core busier. bench/batch-bench.sh measured photographs of 0.5 and 3 megapixels saved up
// to 2.8 times faster than one at a time (the deep diffusion least: 1.05 to 1.4 times), and
// 12-megapixel ones about as fast, within the noise of a busy machine.
std::size_t PicturesAtOnce(std::size_t pictures) {
  return std::clamp<std::size_t>(static_cast<std::size_t>(penamo_usable_cores()), 1,
                                 std::min(pictures, kMostPicturesAtOnce));
}

}  // namespace

int RunBatch(const TSettings& settings, const std::vector<std::string>& inputs, std::string folder,
             const penamo_format_info& format) {
  while (folder.size() > 1 && folder.back() == '/')
    folder.pop_back();
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    std::cerr << "出力フォルダー " << folder << " を使えません: " << CauseOf(errno) << '\n';
    return kFailure;
  }
  if (!S_ISDIR(info.st_mode)) {
    std::cerr << "出力フォルダー " << folder << " を使えません: フォルダーではありません\n";
    return kFailure;
  }
  const std::vector<TBatchItem> items =
      PlanBatch(inputs, folder, std::string(".") + format.extensions[0]);
  TBatchReport report(items.size(), ::isatty(STDERR_FILENO) == 1);
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    // A context of this thread's own: contexts are used by one thread at a time.
    const TContext context = NewContext(settings);
    for (std::size_t i = next++; i < items.size(); i = next++) {
      const TBatchItem& item = items[i];
      if (!item.Refusal.empty()) {
        // Every refusal ends in a character after "." : the message takes a full stop.
        report.Done(false, item.Input, item.Refusal + ".\n");
        continue;
      }
      const std::optional<std::string> failure =
          Save(context.get(), item.Input, item.Output, format.format, settings.Verbose);
      report.Done(!failure, item.Input, failure.value_or(std::string()));
    }
  };
  std::vector<std::thread> workers;
  for (std::size_t i = 0; i < PicturesAtOnce(items.size()); ++i) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the pictures go through the workers already running, or this thread's
    }
  }
  if (workers.empty()) work();
  report.Follow();
  for (std::thread& worker : workers)
    worker.join();
  return report.Failed() == 0 ? kSuccess : kFailure;
}

}  // namespace penamo
