// Where each picture of a batch goes: one output in the folder for each input, named after the
// input, and never two outputs of one run that are one file, however the names lead there.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace penamo {

// One picture of a batch: where it goes, or why it is not saved at all.
struct TBatchItem {
  std::string Input;
  std::string Output;
  std::string Refusal;  // non-empty: not saved, for this reason
};

// Whether two names of the folder that differ only in case name one file there (vfat, exFAT, a
// case-folding ext4 or tmpfs folder), asked of the file system itself: a probe file is made
// under a lower-case name, looked for under the upper-case one and removed. False where the
// folder takes no new file, since no save can be written there either.
bool FolderFoldsCase(const std::string& folder);

// A name as a case-folding folder compares it: each letter in lower case (Unicode's simple
// lower case over UTF-8; bytes that are no UTF-8 stay as they are).
std::string FoldedName(std::string_view name);

// Answers for a folder (its real path) whether it folds case.
using TFoldsCase = std::function<bool(const std::string& folder)>;

// Each input's output in folder: its base name without its extension, then extension (with
// its dot, ".png"). An output that an earlier input's output already is, by name or as a file,
// is refused rather than numbered or written twice, so a run never overwrites one of its own
// results and every name can be foretold: the same name; a name that leads to the same file
// through links, "..", a hard link or a folder that folds case, whether the file is there yet
// or not. foldsCase is asked only about a folder where two outputs differ in case alone.
std::vector<TBatchItem> PlanBatch(const std::vector<std::string>& inputs, const std::string& folder,
                                  const std::string& extension,
                                  const TFoldsCase& foldsCase = FolderFoldsCase);

}  // namespace penamo
