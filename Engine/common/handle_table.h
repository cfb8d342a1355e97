// SPDX-License-Identifier: GPL-2.0-or-later
// 32-bit handles for engine objects that callers name by number (drive references, burn
// jobs, thread-routine arguments). A handle is never reused, so a stale one can only miss;
// it can never reach another object. 0, 0xFFFFFFFF and 0xFFFFFFFE are reserved: they name
// "none" and the two image pseudo-drives.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace quillion {

using Handle32 = std::uint32_t;

inline constexpr Handle32 kNoHandle = 0;
inline constexpr Handle32 kImageWriterHandle = 0xFFFFFFFFu;     // native image reader and writer
inline constexpr Handle32 kIsoImageWriterHandle = 0xFFFFFFFEu;  // ISO image writer

constexpr bool isReservedHandle(Handle32 h) noexcept {
  return h == kNoHandle || h == kImageWriterHandle || h == kIsoImageWriterHandle;
}

// Objects are held by shared_ptr: find() hands out a reference that keeps the object alive
// while a caller uses it, even if another thread removes the handle meanwhile.
template <typename T>
class HandleTable {
 public:
  // Returns kNoHandle only when the handle space is spent (never in practice).
  Handle32 insert(std::shared_ptr<T> object) {
    if (!object) return kNoHandle;
    std::lock_guard lock(mutex_);
    if (next_ >= kIsoImageWriterHandle) return kNoHandle;
    const Handle32 h = next_++;
    objects_.emplace(h, std::move(object));
    return h;
  }

  std::shared_ptr<T> find(Handle32 h) const {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(h);
    return it == objects_.end() ? nullptr : it->second;
  }

  // Removes the handle; the object lives on while others still hold it.
  std::shared_ptr<T> erase(Handle32 h) {
    std::lock_guard lock(mutex_);
    auto it = objects_.find(h);
    if (it == objects_.end()) return nullptr;
    auto object = std::move(it->second);
    objects_.erase(it);
    return object;
  }

  // The handle under which `object` is stored, kNoHandle if none.
  Handle32 handleOf(const T* object) const {
    std::lock_guard lock(mutex_);
    for (const auto& [h, o] : objects_)
      if (o.get() == object) return h;
    return kNoHandle;
  }

  std::vector<Handle32> handles() const {
    std::lock_guard lock(mutex_);
    std::vector<Handle32> out;
    out.reserve(objects_.size());
    for (const auto& entry : objects_) out.push_back(entry.first);
    return out;
  }

  std::size_t size() const {
    std::lock_guard lock(mutex_);
    return objects_.size();
  }

  // Tests only: start numbering close to the end of the space.
  void setNextForTesting(Handle32 next) {
    std::lock_guard lock(mutex_);
    next_ = next;
  }

 private:
  mutable std::mutex mutex_;
  std::map<Handle32, std::shared_ptr<T>> objects_;
  Handle32 next_ = 1;
};

}  // namespace quillion
