#include "engine/index/collation.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "engine/base/error_context.h"
#include "engine/index/language_drivers.h"

namespace tarn {

namespace {

constexpr char16_t UndefinedBase = 0xF000;  // private use: U+F000 + byte

int Sign(int v) { return (v > 0) - (v < 0); }

// ICU converter owned for the scope of table building.
class TConverter {
 public:
  explicit TConverter(std::uint16_t codePage) {
    const std::string name = "windows-" + std::to_string(codePage);
    UErrorCode status = U_ZERO_ERROR;
    FConverter = ucnv_open(name.c_str(), &status);
    if (U_FAILURE(status)) {
      FConverter = nullptr;
      return;
    }
    status = U_ZERO_ERROR;
    ucnv_setToUCallBack(FConverter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    status = U_ZERO_ERROR;
    ucnv_setFromUCallBack(FConverter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &status);
  }
  ~TConverter() {
    if (FConverter != nullptr) ucnv_close(FConverter);
  }
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;

  bool IsOpen() const { return FConverter != nullptr; }

  // The one UTF-16 unit of byte c, or false when the code page leaves it out.
  bool Decode(std::uint8_t c, char16_t& out) {
    UChar buf[4];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetToUnicode(FConverter);
    const char source = static_cast<char>(c);
    const int32_t n = ucnv_toUChars(FConverter, buf, 4, &source, 1, &status);
    if (U_FAILURE(status) || n != 1) return false;
    out = buf[0];
    return true;
  }

  // The one byte of character u, or false when the code page cannot hold it.
  bool Encode(char16_t u, std::uint8_t& out) {
    char buf[8];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(FConverter);
    const UChar source = u;
    const int32_t n = ucnv_fromUChars(FConverter, buf, 8, &source, 1, &status);
    if (U_FAILURE(status) || n != 1) return false;
    out = static_cast<std::uint8_t>(buf[0]);
    return true;
  }

 private:
  UConverter* FConverter = nullptr;
};

// UTF-16 text decoded from 8-bit text; on the stack unless it is long.
class TDecoded {
 public:
  TDecoded(const TLocaleDriver& driver, const std::uint8_t* s, std::size_t n) : FLength(n) {
    if (n > TLocaleDriver::StackChars) {
      FHeap.resize(n);
      FData = FHeap.data();
    } else {
      FData = FStack;
    }
    for (std::size_t i = 0; i < n; ++i) FData[i] = driver.ToUnicode(s[i]);
  }
  TDecoded(const TDecoded&) = delete;
  TDecoded& operator=(const TDecoded&) = delete;

  const UChar* Data() const { return FData; }
  int32_t Length() const { return static_cast<int32_t>(FLength); }

 private:
  UChar FStack[TLocaleDriver::StackChars];
  std::vector<UChar> FHeap;
  UChar* FData;
  std::size_t FLength;
};

UCollator* OpenCollator(const char* locale, bool caseSensitive) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* collator = ucol_open(locale, &status);
  if (U_FAILURE(status)) return nullptr;
  ucol_setStrength(collator, UCOL_PRIMARY);
  ucol_setAttribute(collator, UCOL_ALTERNATE_HANDLING, UCOL_NON_IGNORABLE, &status);
  ucol_setAttribute(collator, UCOL_CASE_LEVEL, caseSensitive ? UCOL_ON : UCOL_OFF, &status);
  if (U_FAILURE(status)) {
    ucol_close(collator);
    return nullptr;
  }
  return collator;
}

// The driver cache: one slot per (list position, sort id).
constexpr std::size_t MaxSorts = 2;

struct TDriverCache {
  std::mutex Mutex;  // guards creation; readers use the atomics
  std::array<std::atomic<const TLocaleDriver*>, LanguageCount * MaxSorts> Published{};
  std::array<bool, LanguageCount * MaxSorts> Tried{};                          // under Mutex
  std::array<std::unique_ptr<TLocaleDriver>, LanguageCount * MaxSorts> Owned;  // under Mutex
  // Language ids sorted, with their list positions and whether they have the
  // phone-book order, for the slot lookup.
  struct TById {
    std::uint16_t LanguageId;
    std::uint8_t Position;
    bool HasPhoneBook;
  };
  std::array<TById, LanguageCount> ById{};

  TDriverCache() {
    const auto names = LanguageNames();
    for (std::size_t i = 0; i < LanguageCount; ++i) {
      ById[i] = {names[i].LanguageId, static_cast<std::uint8_t>(i),
                 IsKnownLanguage(names[i].LanguageId, PhoneBookSortId)};
    }
    std::sort(ById.begin(), ById.end(),
              [](const TById& a, const TById& b) { return a.LanguageId < b.LanguageId; });
  }

  // Slot of a (language, sort), or -1 when the combination is unknown.
  int SlotOf(std::uint16_t languageId, std::uint16_t sortId) const {
    if (sortId >= MaxSorts) return -1;
    auto it = std::lower_bound(ById.begin(), ById.end(), languageId,
                               [](const TById& a, std::uint16_t id) { return a.LanguageId < id; });
    if (it == ById.end() || it->LanguageId != languageId) return -1;
    if (sortId == PhoneBookSortId && !it->HasPhoneBook) return -1;
    return static_cast<int>(it->Position * MaxSorts + sortId);
  }
};

TDriverCache& Cache() {
  static TDriverCache cache;
  return cache;
}

}  // namespace

TLocaleDriver::TLocaleDriver(std::uint16_t languageId, std::uint16_t sortId, std::uint16_t codePage)
    : FLanguageId(languageId), FSortId(sortId), FCodePage(codePage) {}

TLocaleDriver::~TLocaleDriver() noexcept {
  if (FCaseSensitive != nullptr) ucol_close(FCaseSensitive);
  if (FCaseInsensitive != nullptr) ucol_close(FCaseInsensitive);
}

bool TLocaleDriver::Open(const char* icuLocale) {
  TConverter converter(FCodePage);
  if (!converter.IsOpen()) return false;
  for (int c = 0; c < 256; ++c) {
    const auto b = static_cast<std::uint8_t>(c);
    char16_t u;
    FToUnicode[c] = converter.Decode(b, u) ? u : static_cast<char16_t>(UndefinedBase + c);
  }
  for (int c = 0; c < 256; ++c) {
    const auto b = static_cast<std::uint8_t>(c);
    const char16_t u = FToUnicode[c];
    FUpper[c] = b;
    FLower[c] = b;
    const auto upper = static_cast<char16_t>(u_toupper(u));
    const auto lower = static_cast<char16_t>(u_tolower(u));
    std::uint8_t mapped;
    // Round trip through the table as well, so that a best-fit byte never
    // stands in for a character the code page lacks.
    if (upper != u && converter.Encode(upper, mapped) && FToUnicode[mapped] == upper) {
      FUpper[c] = mapped;
    }
    if (lower != u && converter.Encode(lower, mapped) && FToUnicode[mapped] == lower) {
      FLower[c] = mapped;
    }
  }
  if (FLanguageId == 0) return true;
  FCaseSensitive = OpenCollator(icuLocale, true);
  FCaseInsensitive = OpenCollator(icuLocale, false);
  return FCaseSensitive != nullptr && FCaseInsensitive != nullptr;
}

int TLocaleDriver::Collate(const std::uint8_t* s1, std::size_t n1, const std::uint8_t* s2,
                           std::size_t n2, bool caseInsensitive) const {
  const TDecoded a(*this, s1, n1);
  const TDecoded b(*this, s2, n2);
  const UCollationResult r = ucol_strcoll(caseInsensitive ? FCaseInsensitive : FCaseSensitive,
                                          a.Data(), a.Length(), b.Data(), b.Length());
  return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

const TLocaleDriver* GetLocaleDriver(std::uint16_t languageId, std::uint16_t sortId) {
  TDriverCache& cache = Cache();
  const int slot = cache.SlotOf(languageId, sortId);
  if (slot < 0) return nullptr;
  const TLocaleDriver* driver = cache.Published[slot].load(std::memory_order_acquire);
  if (driver != nullptr) return driver;
  std::lock_guard<std::mutex> lock(cache.Mutex);
  if (cache.Tried[slot]) return cache.Published[slot].load(std::memory_order_relaxed);
  cache.Tried[slot] = true;
  auto made = std::make_unique<TLocaleDriver>(languageId, sortId, LanguageCodePage(languageId));
  if (!made->Open(IcuLocaleName(languageId, sortId).c_str())) return nullptr;
  cache.Owned[slot] = std::move(made);
  cache.Published[slot].store(cache.Owned[slot].get(), std::memory_order_release);
  return cache.Owned[slot].get();
}

bool IsValidLocale(std::uint16_t languageId, std::uint16_t sortId) {
  return GetLocaleDriver(languageId, sortId) != nullptr;
}

void CheckLanguageDriver(std::uint16_t languageId, std::uint16_t sortId,
                         std::string_view tableName) {
  if (!IsValidLocale(languageId, sortId)) {
    RaiseEngineError(TARN_CANNOTLOADLDDRV, {.Table = tableName});
  }
}

namespace {

// Bytewise comparison of language 0 over n bytes, upper-casing characters
// before each string's terminating zero when asked.
int CompareBytewise(const TLocaleDriver& driver, const std::uint8_t* a, const std::uint8_t* b,
                    std::size_t n, bool caseInsensitive) {
  if (!caseInsensitive) return Sign(std::memcmp(a, b, n));
  bool aEnded = false;
  bool bEnded = false;
  for (std::size_t i = 0; i < n; ++i) {
    std::uint8_t x = a[i];
    std::uint8_t y = b[i];
    aEnded = aEnded || x == 0;
    bEnded = bEnded || y == 0;
    if (!aEnded) x = driver.Upper(x);
    if (!bEnded) y = driver.Upper(y);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

}  // namespace

int CompareCollated(std::uint16_t languageId, std::uint16_t sortId, const char* s1,
                    bool caseInsensitive, std::size_t length, const char* s2) {
  const TLocaleDriver* driver = GetLocaleDriver(languageId, sortId);
  if (driver == nullptr) return -1;
  const auto* a = reinterpret_cast<const std::uint8_t*>(s1);
  const auto* b = reinterpret_cast<const std::uint8_t*>(s2);
  if (driver->IsBytewise()) {
    if (length == 0) {
      // Up to and including s1's terminator; a shorter s2 differs at its own
      // terminator first, so neither string is read past its end.
      for (std::size_t i = 0;; ++i) {
        std::uint8_t x = a[i];
        std::uint8_t y = b[i];
        if (caseInsensitive) {
          x = driver->Upper(x);
          y = driver->Upper(y);
        }
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
      }
    }
    return CompareBytewise(*driver, a, b, length, caseInsensitive);
  }
  const std::size_t n1 = length == 0 ? std::strlen(s1) : strnlen(s1, length);
  const std::size_t n2 = length == 0 ? std::strlen(s2) : strnlen(s2, length);
  return driver->Collate(a, n1, b, n2, caseInsensitive);
}

int CompareChar(std::uint16_t languageId, std::uint16_t sortId, std::uint8_t c1, std::uint8_t c2) {
  const TLocaleDriver* driver = GetLocaleDriver(languageId, sortId);
  if (driver == nullptr) return -1;
  if (driver->IsBytewise()) {
    const std::uint8_t x = driver->Upper(c1);
    const std::uint8_t y = driver->Upper(c2);
    return x == y ? 0 : (x < y ? -1 : 1);
  }
  return driver->Collate(&c1, 1, &c2, 1, false);
}

namespace {

template <bool Upper>
void MapCase(std::uint16_t languageId, std::uint16_t sortId, std::uint8_t* text,
             std::size_t limit) {
  const TLocaleDriver* driver = GetLocaleDriver(languageId, sortId);
  if (driver == nullptr || text == nullptr) return;
  for (std::size_t i = 0; i < limit && text[i] != 0; ++i) {
    text[i] = Upper ? driver->Upper(text[i]) : driver->Lower(text[i]);
  }
}

constexpr std::size_t Unbounded = static_cast<std::size_t>(-1);

}  // namespace

void UpperCaseLocale(std::uint16_t languageId, std::uint16_t sortId, char* text) {
  MapCase<true>(languageId, sortId, reinterpret_cast<std::uint8_t*>(text), Unbounded);
}

void LowerCaseLocale(std::uint16_t languageId, std::uint16_t sortId, char* text) {
  MapCase<false>(languageId, sortId, reinterpret_cast<std::uint8_t*>(text), Unbounded);
}

void UpperCaseLocale(std::uint16_t languageId, std::uint16_t sortId, std::span<std::uint8_t> text) {
  MapCase<true>(languageId, sortId, text.data(), text.size());
}

void LowerCaseLocale(std::uint16_t languageId, std::uint16_t sortId, std::span<std::uint8_t> text) {
  MapCase<false>(languageId, sortId, text.data(), text.size());
}

}  // namespace tarn
