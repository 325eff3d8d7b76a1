// The process-wide lists of button face images, one per cell size.
#pragma once

#include <memory>
#include <vector>

#include "GlyphList.h"

namespace penamo {

// The process-wide lists of face images, one per cell size, shared by all buttons.
class TGlyphCache {
 public:
  // The cache, or null while none exists.
  static TGlyphCache* Instance();
  // Creates the cache when there is none.
  static TGlyphCache& Acquire();
  // Destroys the cache when it holds no list.
  static void ReleaseIfEmpty();

  // The most recently added list of exactly this size, created when none matches.
  TGlyphList& GetList(int width, int height);
  // Removes and destroys the list once no slot of it is in use.
  void ReturnList(TGlyphList& list);
  int ListCount() const { return static_cast<int>(FLists.size()); }

 private:
  std::vector<std::unique_ptr<TGlyphList>> FLists;
};

}  // namespace penamo
