// Storage shared between pictures: a reference count, and the exchange of references between
// holders under one lock, so a holder on another thread never sees storage already released.
#pragma once

#include <cstdint>
#include <mutex>

namespace penamo {

// Reference-counted storage base; freed when the last holder releases it.
class TSharedImage {
 public:
  TSharedImage() = default;
  TSharedImage(const TSharedImage&) = delete;
  TSharedImage& operator=(const TSharedImage&) = delete;
  virtual ~TSharedImage() = default;

  void Reference() { ++FRefCount; }
  void Release() {
    if (--FRefCount == 0) delete this;
  }
  std::int32_t RefCount() const { return FRefCount; }

 private:
  std::int32_t FRefCount = 0;
};

// Guards the exchange of storage references between holders.
std::mutex& SharedImageLock();

// Makes holder hold fresh, which takes a reference, and releases what holder held.
template <class T>
void InstallShared(T*& holder, T* fresh) {
  fresh->Reference();
  T* old = nullptr;
  {
    const std::lock_guard<std::mutex> guard(SharedImageLock());
    old = holder;
    holder = fresh;
  }
  old->Release();
}

// Makes holder share what source holds; source is read under the lock as well.
template <class T>
void ShareShared(T*& holder, T* const& source) {
  const std::lock_guard<std::mutex> guard(SharedImageLock());
  T* shared = source;
  shared->Reference();
  T* old = holder;
  holder = shared;
  old->Release();
}

}  // namespace penamo
