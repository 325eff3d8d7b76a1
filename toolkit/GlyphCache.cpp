#include "GlyphCache.h"

namespace penamo {

namespace {

TGlyphCache* GlyphCacheInstance = nullptr;

}  // namespace

TGlyphCache* TGlyphCache::Instance() {
  return GlyphCacheInstance;
}

TGlyphCache& TGlyphCache::Acquire() {
  if (GlyphCacheInstance == nullptr) GlyphCacheInstance = new TGlyphCache;
  return *GlyphCacheInstance;
}

void TGlyphCache::ReleaseIfEmpty() {
  if (GlyphCacheInstance != nullptr && GlyphCacheInstance->FLists.empty()) {
    delete GlyphCacheInstance;
    GlyphCacheInstance = nullptr;
  }
}

TGlyphList& TGlyphCache::GetList(int width, int height) {
  for (auto it = FLists.rbegin(); it != FLists.rend(); ++it) {
    if ((*it)->Width() == width && (*it)->Height() == height) return **it;
  }
  FLists.push_back(std::make_unique<TGlyphList>(width, height));
  return *FLists.back();
}

void TGlyphCache::ReturnList(TGlyphList& list) {
  if (list.Count() != 0) return;
  std::erase_if(FLists,
                [&list](const std::unique_ptr<TGlyphList>& held) { return held.get() == &list; });
}

}  // namespace penamo
