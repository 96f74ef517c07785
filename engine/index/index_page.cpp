#include "engine/index/index_page.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "engine/base/byte_order.h"

namespace tarn {


namespace L = IndexPageLayout;

void TPage::Bind(std::int32_t pageNo, int slot, const TIndexDescriptor& d) {
  FPageNo = pageNo;
  FSlot = slot;
  FKeySize = d.KeySize;
  FDescending = d.Descending;
  FUnique = d.Unique;
  FNoCounts = d.NoCounts;
  FCompression = d.Compression;
  UpdateLayout();
}

void TPage::UpdateLayout() {
  FPackFields = IsCompressedLeaf();
  FCountField = FPackFields || (!IsLeaf() && HasCounts());
  FStride = static_cast<std::size_t>(FKeySize) + (FPackFields ? 10 : FCountField ? 8 : 4);
}

void TPage::SetType(TPageType t) {
  FDirty = true;
  if (t == FType) return;
  const std::size_t oldStride = FStride;
  const bool oldCount = FCountField;
  const bool oldPack = FPackFields;
  FType = t;
  UpdateLayout();
  if (FEntryCount == 0 || (FStride == oldStride && FCountField == oldCount && FPackFields == oldPack)) return;
  // The entries change layout: key and Ref move over; a Count or Dup/Trail
  // the new layout has starts at 0.
  const std::vector<std::uint8_t> old(FEntries.begin(),
                                      FEntries.begin() + static_cast<std::ptrdiff_t>(FEntryCount * oldStride));
  const int n = FEntryCount;
  FEntryCount = 0;
  Reserve(n);
  std::fill(FEntries.begin(), FEntries.begin() + static_cast<std::ptrdiff_t>(n * FStride), std::uint8_t{0});
  const std::size_t keyRef = static_cast<std::size_t>(FKeySize) + 4;
  for (int i = 0; i < n; ++i) {
    std::memcpy(FEntries.data() + static_cast<std::size_t>(i) * FStride,
                old.data() + static_cast<std::size_t>(i) * oldStride, keyRef);
  }
  FEntryCount = n;
  if (FPackedSize != 0 && !FPackFields) FPackedSize = 0;
}

void TPage::Clear() {
  FType = TPageType::RootInterior;
  UpdateLayout();
  SetEntryCount(0);
  FPrevPage = 0;
  FNextPage = 0;
  FPackedSize = 0;
  FDirty = false;
  FPins = 0;
  FFree = false;
  FOrphan = false;
}

void TPage::Reserve(int n) {
  assert(n >= 0 && FKeySize >= 0);  // key sizes are range-checked when the header is read
  const std::size_t need = static_cast<std::size_t>(n) * Stride();
  if (need > FEntries.size()) {
    const std::size_t rounded = (need + L::PageSize - 1) / L::PageSize * L::PageSize;
    FEntries.resize(rounded, 0);
  }
}

void TPage::SetEntryCount(int n) {
  if (n < 0) n = 0;
  if (n == 0) FPackedSize = 0;
  Reserve(n);
  // Entries that become part of the page start zero; bytes beyond the count
  // are never read, so shrinking leaves them as they are.
  if (n > FEntryCount) {
    std::fill(FEntries.begin() + static_cast<std::ptrdiff_t>(Offset(FEntryCount + 1)),
              FEntries.begin() + static_cast<std::ptrdiff_t>(Offset(n + 1)), std::uint8_t{0});
  }
  FEntryCount = n;
  FDirty = true;
}

void TPage::InsertEntry(int after, const std::uint8_t* key, std::int32_t ref, std::int32_t count) {
  Reserve(FEntryCount + 1);
  const std::size_t at = static_cast<std::size_t>(after) * Stride();
  const std::size_t end = static_cast<std::size_t>(FEntryCount) * Stride();
  std::memmove(FEntries.data() + at + Stride(), FEntries.data() + at, end - at);
  std::memcpy(FEntries.data() + at, key, FKeySize);
  WriteI32(at + FKeySize, ref);
  if (FCountField) WriteI32(at + FKeySize + 4, FPackFields ? 0 : count);
  if (FPackFields) {
    FEntries[at + FKeySize + 8] = 0;
    FEntries[at + FKeySize + 9] = 0;
  }
  ++FEntryCount;
  if (IsCompressedLeaf()) FPackedSize += StoredSizeFor(0, 0);
  FDirty = true;
}

void TPage::InsertRange(int after, const TPage& other, int first, int last) {
  if (first > last) return;
  if (other.FStride != FStride || other.FCountField != FCountField || other.FPackFields != FPackFields) {
    // Pages of another layout: entry by entry.
    for (int i = first; i <= last; ++i) {
      InsertEntry(after++, other.Key(i), other.Ref(i), other.Count(i));
      if (FPackFields) {
        FPackedSize -= StoredSize(after);
        FEntries[Offset(after) + FKeySize + 8] = static_cast<std::uint8_t>(other.DupCount(i));
        FEntries[Offset(after) + FKeySize + 9] = static_cast<std::uint8_t>(other.TrailCount(i));
        FPackedSize += StoredSize(after);
      }
    }
    return;
  }
  const int n = last - first + 1;
  Reserve(FEntryCount + n);
  const std::size_t at = static_cast<std::size_t>(after) * Stride();
  const std::size_t end = static_cast<std::size_t>(FEntryCount) * Stride();
  const std::size_t bytes = static_cast<std::size_t>(n) * Stride();
  std::memmove(FEntries.data() + at + bytes, FEntries.data() + at, end - at);
  std::memcpy(FEntries.data() + at, other.FEntries.data() + other.Offset(first), bytes);
  FEntryCount += n;
  if (IsCompressedLeaf()) {
    for (int i = after + 1; i <= after + n; ++i) FPackedSize += StoredSize(i);
  }
  FDirty = true;
}

void TPage::RemoveEntry(int p) { RemoveRange(p, p); }

void TPage::RemoveRange(int first, int last) {
  if (first > last) return;
  if (IsCompressedLeaf()) {
    for (int i = first; i <= last; ++i) FPackedSize -= StoredSize(i);
  }
  const std::size_t from = Offset(first);
  const std::size_t to = Offset(last + 1);
  const std::size_t end = static_cast<std::size_t>(FEntryCount) * Stride();
  std::memmove(FEntries.data() + from, FEntries.data() + to, end - to);
  FEntryCount -= last - first + 1;
  FDirty = true;
}

void TPage::SetKey(int p, const std::uint8_t* key) {
  std::memmove(Key(p), key, FKeySize);
  FDirty = true;
}

void TPage::AppendFrom(const TPage& other, int first, int last) { InsertRange(FEntryCount, other, first, last); }

std::int64_t TPage::SubtreeCount() const {
  return IsLeaf() ? FEntryCount : CountSum(1, FEntryCount);
}

std::int64_t TPage::CountSum(int first, int last) const {
  if (!FCountField || first > last) return 0;
  // The Count fields lie a stride apart; two sums halve the chain of
  // dependent additions.
  std::size_t at = Offset(first) + FKeySize + 4;
  std::int64_t even = 0;
  std::int64_t odd = 0;
  int n = last - first + 1;
  for (; n >= 2; n -= 2, at += 2 * FStride) {
    even += ReadI32(at);
    odd += ReadI32(at + FStride);
  }
  if (n == 1) even += ReadI32(at);
  return even + odd;
}

std::int64_t TPage::CountBefore(int pos, std::int64_t total) const {
  if (total >= 0 && pos - 1 > FEntryCount - pos + 1) return total - CountSum(pos, FEntryCount);
  return CountSum(1, pos - 1);
}

void TPage::CopyFrom(const TPage& other) {
  SetEntryCount(0);
  FType = other.FType;
  UpdateLayout();
  FPrevPage = other.FPrevPage;
  FNextPage = other.FNextPage;
  FPackedSize = other.FPackedSize;
  FFree = other.FFree;
  SetEntryCount(0);
  AppendFrom(other, 1, other.FEntryCount);
  FPackedSize = other.FPackedSize;
  FDirty = true;
}

int TPage::ConsecutiveRefs(int pos, int count, bool forward) const {
  if (!IsLeaf() || pos < 1 || pos > FEntryCount || count <= 0) return 0;
  int n = 1;
  const int step = forward ? 1 : -1;
  while (n < count) {
    const int next = pos + n * step;
    if (next < 1 || next > FEntryCount) break;
    if (Ref(next) != Ref(next - step) + step) break;
    ++n;
  }
  return n;
}

int TPage::MaxEntries() const {
  const int body = static_cast<int>(L::BodySize);
  if (IsLeaf()) {
    if (FCompression != TKeyCompression::None) return body;  // bounded by PackedSize instead
    return body / (FKeySize + 4);
  }
  return body / (FKeySize + (HasCounts() ? 8 : 4));
}

bool TPage::Overflows() const {
  if (IsCompressedLeaf()) return FPackedSize > static_cast<int>(L::BodySize);
  return FEntryCount > MaxEntries();
}

int TPage::StoredSizeFor(int dup, int trail) const {
  switch (FCompression) {
    case TKeyCompression::DupByte: return FKeySize - dup + 5;
    case TKeyCompression::TrailByte: return FKeySize - trail + 5;
    case TKeyCompression::Full: return FKeySize - dup - trail + 6;
    case TKeyCompression::None: break;
  }
  return FKeySize + 4;
}

int TPage::StoredSize(int i) const { return StoredSizeFor(DupCount(i), TrailCount(i)); }

void TPage::ComputeDupTrail(int i, const std::uint8_t* prev, int& dup, int& trail) const {
  const std::uint8_t* key = Key(i);
  const int k = FKeySize;
  dup = 0;
  trail = 0;
  const bool useDup = FCompression == TKeyCompression::DupByte || FCompression == TKeyCompression::Full;
  const bool useTrail = FCompression == TKeyCompression::TrailByte || FCompression == TKeyCompression::Full;
  if (useDup && prev != nullptr) {
    const int limit = std::min(k, L::MaxDupTrail);
    while (dup < limit && key[dup] == prev[dup]) ++dup;
  }
  if (useTrail) {
    int start = FCompression == TKeyCompression::Full ? dup : 0;
    int end = k;  // the trimmable region is [start, end)
    if (!FUnique) {
      if (FCompression == TKeyCompression::Full && k - dup < 5) return;
      end = k - 4;
    }
    const int limit = std::min(std::max(end - start, 0), L::MaxDupTrail);
    while (trail < limit && key[end - 1 - trail] == 0) ++trail;
  }
}

void TPage::Repack() {
  if (!IsCompressedLeaf()) {
    FPackedSize = 0;
    return;
  }
  int total = 0;
  for (int i = 1; i <= FEntryCount; ++i) {
    int dup, trail;
    ComputeDupTrail(i, i > 1 ? Key(i - 1) : nullptr, dup, trail);
    FEntries[Offset(i) + FKeySize + 8] = static_cast<std::uint8_t>(dup);
    FEntries[Offset(i) + FKeySize + 9] = static_cast<std::uint8_t>(trail);
    total += StoredSizeFor(dup, trail);
  }
  FPackedSize = total;
  FDirty = true;
}

void TPage::RepackRange(int first, int last) {
  if (!IsCompressedLeaf()) {
    FPackedSize = 0;
    return;
  }
  first = std::max(first, 1);
  last = std::min(last, FEntryCount);
  for (int i = first; i <= last; ++i) {
    int dup, trail;
    ComputeDupTrail(i, i > 1 ? Key(i - 1) : nullptr, dup, trail);
    FPackedSize += StoredSizeFor(dup, trail) - StoredSize(i);
    FEntries[Offset(i) + FKeySize + 8] = static_cast<std::uint8_t>(dup);
    FEntries[Offset(i) + FKeySize + 9] = static_cast<std::uint8_t>(trail);
  }
  FDirty = true;
}

std::span<std::uint8_t> TPage::Body() {
  // The raw body does not depend on the key size the page is bound to.
  if (FEntries.size() < L::BodySize) FEntries.resize(L::PageSize, 0);
  return std::span<std::uint8_t>(FEntries.data(), L::BodySize);
}

bool TPage::WriteImage(std::span<std::uint8_t> image) const {
  std::fill(image.begin(), image.begin() + L::PageSize, std::uint8_t{0});
  image[L::PageType] = static_cast<std::uint8_t>(FType);
  PutLEI32(image, L::PrevPage, FPrevPage);
  PutLEI32(image, L::NextPage, FNextPage);
  if (FFree) {
    PutLEI16(image, L::EntryCount, 0);
    return true;
  }
  if (FType == TPageType::TextParams) {
    const std::size_t n = std::min(L::BodySize, FEntries.size());
    std::copy_n(FEntries.begin(), n, image.begin() + L::HeaderSize);
    return true;
  }
  if (Overflows()) return false;
  PutLEI16(image, L::EntryCount, static_cast<std::int16_t>(FEntryCount));
  std::size_t at = L::HeaderSize;
  if (!FPackFields) {
    // The entries are held as the body stores them.
    const std::size_t bytes = static_cast<std::size_t>(FEntryCount) * FStride;
    if (bytes != 0) std::memcpy(image.data() + at, FEntries.data(), bytes);
    return true;
  }
  PutLE16(image, L::PackedSize, static_cast<std::uint16_t>(FPackedSize));
  for (int i = 1; i <= FEntryCount; ++i) {
    const std::uint8_t* key = Key(i);
    const int dup = DupCount(i);
    const int trail = TrailCount(i);
    // The suffix is kept apart when trailing zeros come off before it.
    bool suffixApart = !FUnique;
    int from = 0;
    switch (FCompression) {
      case TKeyCompression::DupByte:
        image[at++] = static_cast<std::uint8_t>(dup);
        from = dup;
        suffixApart = false;
        break;
      case TKeyCompression::TrailByte:
        image[at++] = static_cast<std::uint8_t>(trail);
        break;
      case TKeyCompression::Full:
        image[at++] = static_cast<std::uint8_t>(dup);
        image[at++] = static_cast<std::uint8_t>(trail);
        from = dup;
        if (FKeySize - dup < 5) suffixApart = false;
        break;
      case TKeyCompression::None: break;
    }
    const int regionEnd = suffixApart ? FKeySize - 4 : FKeySize;
    const int copyEnd = (FCompression == TKeyCompression::DupByte) ? FKeySize : regionEnd - trail;
    std::copy(key + from, key + copyEnd, image.begin() + at);
    at += static_cast<std::size_t>(copyEnd - from);
    if (suffixApart && FCompression != TKeyCompression::DupByte) {
      std::copy(key + FKeySize - 4, key + FKeySize, image.begin() + at);
      at += 4;
    }
    PutLEI32(image, at, Ref(i));
    at += 4;
  }
  return true;
}

bool TPage::ReadImage(std::span<const std::uint8_t> image, bool isNew) {
  if (image.size() < L::PageSize) return false;
  const std::uint8_t type = image[L::PageType];
  if (type > static_cast<std::uint8_t>(TPageType::TextParams)) return false;
  FType = static_cast<TPageType>(type);
  UpdateLayout();
  FPrevPage = GetLEI32(image, L::PrevPage);
  FNextPage = GetLEI32(image, L::NextPage);
  FPackedSize = 0;
  FFree = false;
  FDirty = false;
  SetEntryCount(0);
  FDirty = false;
  if (isNew) return true;
  const int count = GetLEI16(image, L::EntryCount);
  const int packed = GetLE16(image, L::PackedSize);
  if (count < 0) return false;
  if (FType == TPageType::TextParams) {
    auto body = Body();
    std::copy_n(image.begin() + L::HeaderSize, L::BodySize, body.begin());
    return true;
  }
  if (FKeySize <= 0 || static_cast<std::size_t>(FKeySize) + 10 > L::BodySize) return false;
  const std::size_t k = static_cast<std::size_t>(FKeySize);
  const std::size_t end = L::PageSize;
  std::size_t at = L::HeaderSize;
  if (!FPackFields) {
    // The body's entries are the in-memory entries.
    const std::size_t bytes = static_cast<std::size_t>(count) * FStride;
    if (bytes > L::BodySize) return false;
    Reserve(count);
    if (bytes != 0) std::memcpy(FEntries.data(), image.data() + at, bytes);
    FEntryCount = count;
    FDirty = false;
    return CheckInvariants();
  }
  // Compressed leaf: every entry takes at least 5 bytes.
  if (static_cast<std::size_t>(count) * 5 > L::BodySize || packed > static_cast<int>(L::BodySize)) return false;
  Reserve(count);  // every byte of each entry is written below
  FEntryCount = count;
  int total = 0;
  for (int i = 1; i <= count; ++i) {
    std::uint8_t* key = Key(i);
    int dup = 0, trail = 0;
    const std::size_t need = FCompression == TKeyCompression::Full ? 2 : 1;
    if (at + need > end) return false;
    if (FCompression == TKeyCompression::DupByte || FCompression == TKeyCompression::Full) dup = image[at++];
    if (FCompression == TKeyCompression::TrailByte) trail = image[at++];
    if (FCompression == TKeyCompression::Full) trail = image[at++];
    if (dup > FKeySize || dup > L::MaxDupTrail || trail > L::MaxDupTrail) return false;
    if (i == 1 && dup != 0) return false;
    if (dup > 0) std::copy_n(Key(i - 1), dup, key);
    bool suffixApart = !FUnique;
    if (FCompression == TKeyCompression::DupByte) suffixApart = false;
    if (FCompression == TKeyCompression::Full && FKeySize - dup < 5) suffixApart = false;
    if (FCompression == TKeyCompression::DupByte && trail != 0) return false;
    const int regionEnd = suffixApart ? FKeySize - 4 : FKeySize;
    const int regionStart = FCompression == TKeyCompression::Full ? dup : 0;
    if (trail > regionEnd - regionStart) return false;
    const int copyEnd = regionEnd - trail;
    const std::size_t copyLen = static_cast<std::size_t>(copyEnd - dup);
    if (at + copyLen + (suffixApart ? 4 : 0) + 4 > end) return false;
    std::copy_n(image.begin() + at, copyLen, key + dup);
    at += copyLen;
    std::fill(key + copyEnd, key + regionEnd, std::uint8_t{0});
    if (suffixApart) {
      std::copy_n(image.begin() + at, 4, key + FKeySize - 4);
      at += 4;
    }
    WriteI32(Offset(i) + k, GetLEI32(image, at));
    WriteI32(Offset(i) + k + 4, 0);
    at += 4;
    FEntries[Offset(i) + k + 8] = static_cast<std::uint8_t>(dup);
    FEntries[Offset(i) + k + 9] = static_cast<std::uint8_t>(trail);
    total += StoredSizeFor(dup, trail);
  }
  FPackedSize = total;
  FDirty = false;
  // Dup and Trail as stored must be the ones packing gives: every later change
  // repacks only the entries around it and relies on the rest being exact.
  return CheckInvariants();
}

bool TPage::CheckInvariants() const {
  if (FEntryCount < 0) return false;
  if (!IsCompressedLeaf()) return FPackedSize == 0 && FEntryCount <= MaxEntries();
  int total = 0;
  for (int i = 1; i <= FEntryCount; ++i) {
    int dup, trail;
    ComputeDupTrail(i, i > 1 ? Key(i - 1) : nullptr, dup, trail);
    if (dup != DupCount(i) || trail != TrailCount(i)) return false;
    total += StoredSizeFor(dup, trail);
  }
  return total == FPackedSize && FPackedSize <= static_cast<int>(L::BodySize);
}

}  // namespace tarn
