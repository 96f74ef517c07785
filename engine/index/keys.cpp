#include "engine/index/keys.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstring>
#include <limits>

#include "engine/base/byte_order.h"
#include "engine/index/char_maps.h"
#include "engine/index/collation.h"
#include "engine/table/field_types.h"

namespace tarn {

namespace {

constexpr std::size_t RecAutoIncAt = 5;  // RecAutoInc in the record

int Sign(int v) { return (v > 0) - (v < 0); }

void PutBE(std::uint8_t* out, std::uint64_t v, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) out[n - 1 - i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Bytes a field's value occupies in the record (its FieldPhysSize).
std::size_t StoredValueSize(std::uint8_t type, std::uint16_t declaredSize) {
  switch (type) {
    case FieldType::String:
      return declaredSize + 1u;
    case FieldType::Bcd:
      return 34;
    case FieldType::Blob:
      return 8;
    default:
      return KeyFieldSize(type, declaredSize);
  }
}

// One run of key bytes of one kind; string runs step through the char map.
struct TSegment {
  std::uint16_t Start;
  std::uint16_t Size;
  bool IsString;  // a string value area of a table with a language
  bool IsFlag;    // the flag byte of a key field
};

// The key's bytes cut into segments. Flag bytes, non-string areas, the
// RecAutoInc suffix and the numeric parts of "Sys Text" keys are plain bytes.
class TKeyLayout {
 public:
  explicit TKeyLayout(const TKeyDef& def) {
    const std::uint16_t keySize = def.KeySize;
    const bool language = def.HasLanguage();
    std::uint16_t p = 0;
    if (def.Slot == KeyLimits::TextSlot) {
      Add(0, KeyLimits::TextWordAt, false, false);
      Add(KeyLimits::TextWordAt, KeyLimits::TextWordSize, language, false);
      p = KeyLimits::TextAutoIncAt;
    } else if (def.Slot != KeyLimits::DeletedSlot) {
      for (std::uint8_t i = 0; i < def.FieldCount && i < KeyLimits::MaxKeyFields; ++i) {
        const TKeyField& field = def.Fields[i];
        const std::uint16_t kfs = KeyFieldSize(field);
        if (p + 1u + kfs > keySize) break;
        Add(p, 1, false, true);
        Add(p + 1, kfs, language && field.FieldType == FieldType::String, false);
        p = static_cast<std::uint16_t>(p + 1 + kfs);
      }
    }
    if (p < keySize) Add(p, static_cast<std::uint16_t>(keySize - p), false, false);
  }

  std::span<const TSegment> Segments() const { return {FSegments.data(), FCount}; }

  bool IsStringAt(std::size_t pos) const {
    for (const TSegment& s : Segments()) {
      if (pos >= s.Start && pos < s.Start + s.Size) return s.IsString;
    }
    return false;
  }

 private:
  void Add(std::uint16_t start, std::uint16_t size, bool isString, bool isFlag) {
    if (size == 0) return;
    FSegments[FCount++] = TSegment{start, size, isString, isFlag};
  }

  std::array<TSegment, 2 * KeyLimits::MaxKeyFields + 2> FSegments{};
  std::size_t FCount = 0;
};

std::size_t KeyBytes(const TKeyDef& def, std::span<std::uint8_t> key) {
  return std::min<std::size_t>(def.KeySize, key.size());
}

void PadKey(const TKeyDef& def, std::span<std::uint8_t> key, std::size_t from, bool high) {
  const std::size_t size = KeyBytes(def, key);
  if (from >= size) return;
  const std::uint8_t plain = high ? 0xFF : 0x00;
  if (!def.HasLanguage()) {
    std::memset(key.data() + from, plain, size - from);
    return;
  }
  const TCharMap& map = LanguageCharMap(def.LanguageId, def.SortId);
  const std::uint8_t character = high ? map.Highest() : map.Lowest();
  const TKeyLayout layout(def);
  for (const TSegment& s : layout.Segments()) {
    const std::size_t begin = std::max<std::size_t>(from, s.Start);
    const std::size_t end = std::min<std::size_t>(size, s.Start + s.Size);
    if (begin < end) std::memset(key.data() + begin, s.IsString ? character : plain, end - begin);
  }
}

// KeySuccessor (up) and KeyPredecessor (down).
void StepKey(const TKeyDef& def, std::span<std::uint8_t> key, std::size_t length, bool up) {
  length = std::min(length, KeyBytes(def, key));
  if (length == 0) return;
  std::uint8_t* k = key.data();
  const std::uint8_t plainEnd = up ? 0xFF : 0x00;   // the byte that carries
  const std::uint8_t plainWrap = up ? 0x00 : 0xFF;  // what it wraps to
  const bool stringSteps = def.HasLanguage() && def.Slot != KeyLimits::DeletedSlot;
  if (!stringSteps) {
    std::size_t n = length - 1;
    while (n > 0 && k[n] == plainEnd) k[n--] = plainWrap;
    if (k[n] == plainEnd) {
      std::memset(k, plainEnd, length);
    } else {
      k[n] = static_cast<std::uint8_t>(up ? k[n] + 1 : k[n] - 1);
    }
    return;
  }
  const std::uint16_t lang = def.LanguageId;
  const std::uint16_t sort = def.SortId;
  const TCharMap& map = LanguageCharMap(lang, sort);
  const std::uint8_t charEnd = up ? map.Highest() : map.Lowest();
  const std::uint8_t charWrap = up ? map.Lowest() : map.Highest();
  const TKeyLayout layout(def);
  auto atEnd = [&](std::size_t q) {
    return layout.IsStringAt(q) ? CompareChar(lang, sort, k[q], charEnd) == 0 : k[q] == plainEnd;
  };
  std::size_t n = length - 1;
  while (n > 0 && atEnd(n)) {
    k[n] = layout.IsStringAt(n) ? charWrap : plainWrap;
    --n;
  }
  if (atEnd(n)) {
    if (layout.IsStringAt(n)) {
      PadKey(def, key, length, up);
    } else {
      std::memset(k, plainEnd, length);
    }
    return;
  }
  if (!layout.IsStringAt(n)) {
    k[n] = static_cast<std::uint8_t>(up ? k[n] + 1 : k[n] - 1);
    return;
  }
  // The next (previous) character in the map that differs from this one.
  const std::uint8_t c = k[n];
  int pos = map.Position[c];
  for (pos += up ? 1 : -1; pos >= 0 && pos <= 255; pos += up ? 1 : -1) {
    if (CompareChar(lang, sort, map.Order[pos], c) != 0) {
      k[n] = map.Order[pos];
      return;
    }
  }
}

}  // namespace

std::uint16_t KeyFieldSize(std::uint8_t fieldType, std::uint16_t declaredSize) {
  switch (fieldType) {
    case FieldType::String:
      return static_cast<std::uint16_t>(declaredSize + 1);
    case FieldType::Date:
    case FieldType::Int32:
    case FieldType::Time:
    case 13:  // unsigned 32-bit
      return 4;
    case FieldType::Blob:
    case FieldType::Float:
    case FieldType::Timestamp:
    case FieldType::Int64:
    case FieldType::Bcd:
      return 8;
    case FieldType::Boolean:
    case FieldType::Int16:
    case FieldType::UInt16:
      return 2;
    case 14:  // extended float
      return 10;
    default:
      return declaredSize;
  }
}

std::int64_t BcdKeyValue(std::span<const std::uint8_t> bcd) {
  constexpr std::size_t BcdSize = 34;
  constexpr int KeyDecimals = 4;
  if (bcd.size() < BcdSize || bcd[0] == 0) return 0;
  const int precision = std::min<int>(bcd[0], 64);
  const bool negative = (bcd[1] & 0x80) != 0;
  const int scale = bcd[1] & 0x3F;
  auto digit = [&](int i) {
    const std::uint8_t b = bcd[2 + i / 2];
    const int d = (i % 2 == 0) ? b >> 4 : b & 0x0F;
    return std::min(d, 9);
  };
  // Digits 0 .. keep-1 form value x 10^4 (padded with zeros when the scale is
  // below four); digit keep decides the rounding.
  const int keep = precision - scale + KeyDecimals;
  constexpr unsigned __int128 Limit = static_cast<unsigned __int128>(1) << 63;
  unsigned __int128 magnitude = 0;
  auto push = [&](int d) {
    magnitude = magnitude * 10 + static_cast<unsigned>(d);
    if (magnitude > Limit) magnitude = Limit;
  };
  for (int i = 0; i < std::min(keep, precision); ++i) push(digit(i));
  for (int i = precision; i < keep; ++i) push(0);
  if (keep >= 0 && keep < precision && digit(keep) >= 5) ++magnitude;
  if (magnitude > Limit) magnitude = Limit;
  if (negative) {
    return magnitude == Limit ? std::numeric_limits<std::int64_t>::min()
                              : -static_cast<std::int64_t>(magnitude);
  }
  return magnitude >= Limit ? std::numeric_limits<std::int64_t>::max()
                            : static_cast<std::int64_t>(magnitude);
}

void EncodeAutoIncKey(std::int32_t autoInc, std::span<std::uint8_t> out) {
  assert(out.size() >= 4);
  PutBE(out.data(), static_cast<std::uint32_t>(autoInc) ^ 0x80000000u, 4);
}

void EncodeFieldKey(const TKeyField& field, const std::uint8_t* value, std::size_t valueSize,
                    std::uint16_t languageId, std::uint16_t sortId, bool descendingField,
                    bool caseInsensitive, std::span<std::uint8_t> part) {
  if (part.empty()) return;
  std::fill(part.begin(), part.end(), std::uint8_t{0});
  std::uint8_t* area = part.data() + 1;
  const std::size_t areaSize = part.size() - 1;
  const std::span<const std::uint8_t> v(value, value != nullptr ? valueSize : 0);
  auto needs = [&](std::size_t n) { return value != nullptr && valueSize >= n && areaSize >= n; };
  bool present = value != nullptr;
  switch (field.FieldType) {
    case FieldType::String: {
      if (!present) break;
      const std::size_t n = std::min(areaSize, valueSize);
      const auto* end = static_cast<const std::uint8_t*>(std::memchr(value, 0, n));
      std::memcpy(area, value, end != nullptr ? static_cast<std::size_t>(end - value) : n);
      if (caseInsensitive) UpperCaseLocale(languageId, sortId, std::span(area, areaSize));
      break;
    }
    case FieldType::Date:
    case FieldType::Int32:
    case FieldType::Time:
      if ((present = needs(4))) PutBE(area, GetLE32(v, 0) ^ 0x80000000u, 4);
      break;
    case FieldType::Int16:
      if ((present = needs(2))) PutBE(area, GetLE16(v, 0) ^ 0x8000u, 2);
      break;
    case FieldType::Boolean:
    case FieldType::UInt16:
      if ((present = needs(2))) PutBE(area, GetLE16(v, 0), 2);
      break;
    case FieldType::Int64:
      if ((present = needs(8))) PutBE(area, GetLE64(v, 0) ^ 0x8000000000000000u, 8);
      break;
    case FieldType::Float:
    case FieldType::Timestamp:
      if ((present = needs(8))) {
        const std::uint64_t bits = GetLE64(v, 0);
        // value >= 0 (which includes -0.0): top bit set; negative: all inverted.
        PutBE(area, GetLEDouble(v, 0) >= 0.0 ? bits | 0x8000000000000000u : ~bits, 8);
      }
      break;
    case FieldType::Bcd:
      if ((present = value != nullptr && areaSize >= 8)) {
        PutBE(area, static_cast<std::uint64_t>(BcdKeyValue(v)) ^ 0x8000000000000000u, 8);
      }
      break;
    default:
      if (present) std::memcpy(area, value, std::min(areaSize, valueSize));
      break;
  }
  if (!present) std::fill(part.begin(), part.end(), std::uint8_t{0});
  part[0] = present ? 1 : 0;
  if (languageId == 0 && descendingField) {
    for (std::uint8_t& b : part) b = static_cast<std::uint8_t>(~b);
  }
}

void BuildKey(const TKeyDef& def, std::span<const std::uint8_t> record,
              std::span<std::uint8_t> key) {
  const std::size_t keySize = KeyBytes(def, key);
  std::memset(key.data(), 0, keySize);
  const bool hasAutoInc = record.size() >= RecAutoIncAt + 4;
  const std::int32_t autoInc = hasAutoInc ? GetLEI32(record, RecAutoIncAt) : 0;
  if (def.Slot == KeyLimits::DeletedSlot) {
    if (keySize < KeyLimits::DeletedKeySize) return;
    key[0] = record.empty() ? 0 : record[0];
    EncodeAutoIncKey(autoInc, key.subspan(1, 4));
    return;
  }
  if (def.Slot == KeyLimits::TextSlot) return;
  std::size_t p = 0;
  for (std::uint8_t i = 0; i < def.FieldCount && i < KeyLimits::MaxKeyFields; ++i) {
    const TKeyField& field = def.Fields[i];
    const std::size_t partSize = KeyFieldSize(field) + 1u;
    if (p + partSize > keySize) break;
    const std::uint8_t* value = nullptr;
    std::size_t valueSize = 0;
    if (field.Computed) {
      // no record bytes: keys as null
    } else if (!field.HasNullFlag) {
      valueSize = 4;
      if (field.FieldOffset + valueSize <= record.size()) value = record.data() + field.FieldOffset;
    } else {
      valueSize = StoredValueSize(field.FieldType, field.FieldSize);
      const std::size_t at = field.FieldOffset;
      if (at + 1 + valueSize <= record.size() && record[at] != 0) value = record.data() + at + 1;
    }
    const bool descendingField = def.FieldDescending[i] != 0 && !def.Descending;
    EncodeFieldKey(field, value, valueSize, def.LanguageId, def.SortId, descendingField,
                   def.CaseInsensitive, key.subspan(p, partSize));
    p += partSize;
  }
  if (!def.Unique && p + KeyLimits::AutoIncSize <= keySize) {
    EncodeAutoIncKey(autoInc, key.subspan(p, KeyLimits::AutoIncSize));
  }
}

void BuildTextKey(std::uint16_t fieldNumber, std::span<const std::uint8_t> word,
                  std::int32_t autoInc, std::uint16_t languageId, std::uint16_t sortId,
                  std::span<std::uint8_t> key) {
  assert(key.size() >= KeyLimits::TextKeySize);
  std::memset(key.data(), 0, KeyLimits::TextKeySize);
  key[0] = 1;
  PutBE(key.data() + KeyLimits::TextFieldNoAt, fieldNumber, 2);
  std::size_t n = std::min<std::size_t>(word.size(), KeyLimits::MaxWordLength);
  const void* zero = std::memchr(word.data(), 0, n);
  if (zero != nullptr)
    n = static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - word.data());
  std::memcpy(key.data() + KeyLimits::TextWordAt, word.data(), n);
  UpperCaseLocale(languageId, sortId, key.subspan(KeyLimits::TextWordAt, KeyLimits::TextWordSize));
  EncodeAutoIncKey(autoInc, key.subspan(KeyLimits::TextAutoIncAt, KeyLimits::AutoIncSize));
}

int CompareBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n, bool descending) {
  if (a == nullptr) return 1;
  const int r = n == 0 ? 0 : Sign(std::memcmp(a, b, n));
  return descending ? -r : r;
}

namespace {

// Collated comparison of two zero-padded string areas of n bytes.
int CollateAreas(const TLocaleDriver& driver, const std::uint8_t* a, const std::uint8_t* b,
                 std::size_t n) {
  const auto* ca = reinterpret_cast<const char*>(a);
  const auto* cb = reinterpret_cast<const char*>(b);
  return driver.Collate(a, strnlen(ca, n), b, strnlen(cb, n), false);
}

int CompareTextKeys(const TKeyDef& def, const std::uint8_t* a, const std::uint8_t* b,
                    std::size_t length) {
  int r = CompareBytes(a, b, std::min<std::size_t>(length, KeyLimits::TextWordAt), false);
  if (r != 0 || length <= KeyLimits::TextWordAt) return r;
  const std::size_t wordBytes =
      std::min<std::size_t>(length - KeyLimits::TextWordAt, KeyLimits::TextWordSize);
  r = CompareCollated(def.LanguageId, def.SortId,
                      reinterpret_cast<const char*>(a + KeyLimits::TextWordAt), false, wordBytes,
                      reinterpret_cast<const char*>(b + KeyLimits::TextWordAt));
  if (r != 0 || length <= KeyLimits::TextAutoIncAt) return r;
  return CompareBytes(a + KeyLimits::TextAutoIncAt, b + KeyLimits::TextAutoIncAt,
                      length - KeyLimits::TextAutoIncAt, false);
}

int CompareLanguageKeys(const TKeyDef& def, const std::uint8_t* a, const std::uint8_t* b,
                        std::size_t length) {
  const TLocaleDriver* driver = GetLocaleDriver(def.LanguageId, def.SortId);
  if (driver == nullptr) return -1;  // an unusable language sorts first
  std::size_t p = 0;
  for (std::uint8_t i = 0; i < def.FieldCount && i < KeyLimits::MaxKeyFields && p < length; ++i) {
    const TKeyField& field = def.Fields[i];
    const bool desc = def.Descending || def.FieldDescending[i] != 0;
    const std::size_t kfs = KeyFieldSize(field);
    int r;
    if (field.FieldType == FieldType::String) {
      r = CompareBytes(a + p, b + p, 1, desc);
      if (r != 0) return r;
      const std::size_t d = std::min(kfs, length - p - 1);
      r = CollateAreas(*driver, a + p + 1, b + p + 1, d);
      if (desc) r = -r;
      p += d + 1;
    } else {
      const std::size_t d = std::min(kfs + 1, length - p);
      r = CompareBytes(a + p, b + p, d, desc);
      p += d;
    }
    if (r != 0) return r;
  }
  if (p < length) return CompareBytes(a + p, b + p, length - p, def.Descending);
  return 0;
}

}  // namespace

int CompareKeys(const TKeyDef& def, const std::uint8_t* a, const std::uint8_t* b,
                std::size_t length) {
  if (a == nullptr) return 1;
  if (def.Slot == KeyLimits::DeletedSlot) return CompareBytes(a, b, length, false);
  if (def.Slot == KeyLimits::TextSlot) return CompareTextKeys(def, a, b, length);
  if (!def.HasLanguage()) return CompareBytes(a, b, length, def.Descending);
  return CompareLanguageKeys(def, a, b, length);
}

void LowKey(const TKeyDef& def, std::span<std::uint8_t> key) { PadKey(def, key, 0, false); }

void HighKey(const TKeyDef& def, std::span<std::uint8_t> key) {
  PadKey(def, key, 0, true);
  if (!def.HasLanguage() || def.IsInternal()) return;
  // The flag bytes of the highest key say "has a value".
  const TKeyLayout layout(def);
  for (const TSegment& s : layout.Segments()) {
    if (s.IsFlag && s.Start < KeyBytes(def, key)) key[s.Start] = 1;
  }
}

void PadKeyLow(const TKeyDef& def, std::span<std::uint8_t> key, std::size_t from) {
  PadKey(def, key, from, false);
}

void PadKeyHigh(const TKeyDef& def, std::span<std::uint8_t> key, std::size_t from) {
  PadKey(def, key, from, true);
}

void KeySuccessor(const TKeyDef& def, std::span<std::uint8_t> key, std::size_t length) {
  StepKey(def, key, length, true);
}

void KeyPredecessor(const TKeyDef& def, std::span<std::uint8_t> key, std::size_t length) {
  StepKey(def, key, length, false);
}

TIndexDescriptor SingleFieldIndex(std::string_view name, std::int16_t field, std::span<const TFieldDesc> fields,
                                  bool unique) {
  TIndexDescriptor d;
  d.IndexName = std::string(name);
  d.Unique = unique;
  d.FieldCount = 1;
  d.FieldNumbers[0] = field;
  const TFieldDesc& f = fields[static_cast<std::size_t>(field - 1)];
  d.KeySize = static_cast<std::int16_t>(KeyFieldSize(f.FieldType(), f.FieldSize()) + 1 +
                                        (unique ? 0 : KeyLimits::AutoIncSize));
  return d;
}

}  // namespace tarn
