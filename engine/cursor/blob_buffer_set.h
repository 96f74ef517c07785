#pragma once
// The open blob buffers of one cursor.
//
// While a blob buffer is open on a blob field of a record buffer, the field's
// 4-byte reference holds the buffer's handle instead: a negative number,
// unique among the cursor's open buffers (-1, -2, ... handed out in turn,
// skipping numbers still in use). Each entry remembers the reference the
// field held when the buffer was opened, so that closing an unposted buffer
// puts it back, and whether the buffer is kept for a pending post.
//
// Invariants: (1) at most MaxOpen entries; (2) handles are negative and
// distinct. Owned by the cursor; one thread at a time.

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/blob/blob_buffer.h"

namespace tarn {

class TBlobBufferSet {
 public:
  static constexpr std::size_t MaxOpen = 128;

  struct TEntry {
    std::int32_t Handle = 0;
    std::int32_t OriginalRef = 0;  // the field's reference before the open
    bool Keep = false;             // kept for the post that follows
    std::unique_ptr<TBlobBuffer> Buffer;
  };

  std::size_t Count() const { return FEntries.size(); }
  bool Full() const { return FEntries.size() >= MaxOpen; }
  // The entry of handle, or null.
  TEntry* Find(std::int32_t handle);
  // Adds buffer and returns its entry (with a fresh handle). Requires: !Full().
  TEntry& Add(std::unique_ptr<TBlobBuffer> buffer, std::int32_t originalRef);
  void Remove(std::int32_t handle) noexcept;
  // Frees every entry (all), or only those not kept.
  void Free(bool all) noexcept;
  std::vector<TEntry>& Entries() { return FEntries; }

 private:
  std::vector<TEntry> FEntries;
  std::int32_t FLastHandle = 0;
};

}  // namespace tarn
