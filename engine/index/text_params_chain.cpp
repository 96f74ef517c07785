#include "engine/index/text_params_chain.h"

#include <algorithm>
#include <cstring>

#include "engine/base/byte_order.h"

namespace tarn {

namespace {

constexpr std::size_t BodySize = IndexPageLayout::BodySize;
constexpr std::size_t MaxWordLength = 255;

// Runs the caller's context with the pages of slot 32.
class TTextSlotContext : public TTreeContext {
 public:
  explicit TTextSlotContext(TTreeContext& inner) : FInner(inner) {}
  int IndexSlot() const override { return SysTextSlot; }
  TDescentPath& Path() override { return FInner.Path(); }
  bool TableChanged() override { return FInner.TableChanged(); }

 private:
  TTreeContext& FInner;
};

// The stream of items laid over the chain's bodies.
std::vector<std::uint8_t> Serialize(const TTextIndexParams& params) {
  std::vector<std::uint8_t> items;
  auto putLength = [&](std::int32_t v) {
    std::uint8_t b[4];
    PutLEI32(b, 0, v);
    items.insert(items.end(), b, b + 4);
  };
  putLength(static_cast<std::int32_t>(params.StopWords.size()));
  for (const auto& w : params.StopWords) {
    const std::size_t n = std::min(w.size(), MaxWordLength);
    putLength(static_cast<std::int32_t>(n));
    items.insert(items.end(), w.begin(), w.begin() + static_cast<std::ptrdiff_t>(n));
  }
  for (const TCharSet* set : {&params.SpaceChars, &params.IncludeChars}) {
    putLength(static_cast<std::int32_t>(TCharSet::ByteSize));
    items.insert(items.end(), set->Bits().begin(), set->Bits().end());
  }
  return items;
}

}  // namespace

bool TTextParamsChain::Read(TTreeContext& outer, TTextIndexParams& params) {
  TTextSlotContext ctx(outer);
  for (;;) {
    std::int32_t pageNo = FFile.Descriptor(SysTextSlot).TextParamsPage;
    if (pageNo == 0) return false;
    TPagePin page;
    std::size_t offset = 0;
    int pagesSeen = 0;
    bool stale = false;
    // Gives the span of the next `size` bytes, moving to the next page when needed.
    auto take = [&](std::size_t size) -> const std::uint8_t* {
      if (!page || offset + size > BodySize) {
        const std::int32_t next = page ? page->NextPage() : pageNo;
        if (next == 0 || ++pagesSeen > std::max(FFile.NextPageNumber(), 1)) FFile.Raise(TARN_INDEXCORRUPT);
        page = FFile.GetPage(ctx, next);
        if (!page) {
          stale = true;
          return nullptr;
        }
        if (page->Type() != TPageType::TextParams) FFile.Raise(TARN_INDEXCORRUPT);
        offset = 0;
      }
      const std::uint8_t* at = page->Body().data() + offset;
      offset += size;
      return at;
    };
    auto takeLength = [&](std::int32_t& out) {
      const std::uint8_t* at = take(4);
      if (at == nullptr) return false;
      out = GetLEI32(std::span<const std::uint8_t>(at, 4), 0);
      return true;
    };
    TTextIndexParams read;
    std::int32_t count = 0;
    if (!takeLength(count)) continue;
    if (count < 0) FFile.Raise(TARN_INDEXCORRUPT);
    for (std::int32_t i = 0; i < count && !stale; ++i) {
      std::int32_t len = 0;
      if (!takeLength(len)) break;
      if (len < 0 || len > static_cast<std::int32_t>(MaxWordLength)) FFile.Raise(TARN_INDEXCORRUPT);
      const std::uint8_t* word = take(static_cast<std::size_t>(len));
      if (word == nullptr) break;
      read.StopWords.emplace_back(reinterpret_cast<const char*>(word), static_cast<std::size_t>(len));
    }
    for (TCharSet* set : {&read.SpaceChars, &read.IncludeChars}) {
      if (stale) break;
      std::int32_t len = 0;
      if (!takeLength(len)) break;
      if (len != static_cast<std::int32_t>(TCharSet::ByteSize)) FFile.Raise(TARN_INDEXCORRUPT);
      const std::uint8_t* bits = take(TCharSet::ByteSize);
      if (bits == nullptr) break;
      std::array<std::uint8_t, TCharSet::ByteSize> copy{};
      std::memcpy(copy.data(), bits, copy.size());
      *set = TCharSet(copy);
    }
    if (stale) continue;
    params = std::move(read);
    return true;
  }
}

void TTextParamsChain::Write(TTreeContext& outer, const TTextIndexParams& params) {
  TTextSlotContext ctx(outer);
  const std::vector<std::uint8_t> stream = Serialize(params);
  // Item sizes in stream order, to place each one whole.
  std::vector<std::size_t> sizes;
  sizes.push_back(4);
  for (const auto& w : params.StopWords) {
    sizes.push_back(4);
    sizes.push_back(std::min(w.size(), MaxWordLength));
  }
  for (int i = 0; i < 2; ++i) {
    sizes.push_back(4);
    sizes.push_back(TCharSet::ByteSize);
  }

  TIndexFile::TChangeCheckSuspension suspend(FFile);
  TPagePin page;
  std::size_t offset = 0;
  std::size_t from = 0;
  auto startPage = [&](std::int32_t pageNo) {
    if (pageNo != 0) {
      page = FFile.GetPage(ctx, pageNo);
      if (!page || page->Type() != TPageType::TextParams) FFile.Raise(TARN_INDEXCORRUPT);
    } else {
      TPagePin fresh = FFile.AllocPage(ctx);
      if (!fresh) FFile.Raise(TARN_INDEXCORRUPT);
      fresh->SetType(TPageType::TextParams);
      fresh->SetNextPage(0);
      if (page) {
        page->SetNextPage(fresh->PageNo());
      } else {
        FFile.SetTextParamsPage(fresh->PageNo());
      }
      page = std::move(fresh);
    }
    auto body = page->Body();
    std::fill(body.begin(), body.end(), std::uint8_t{0});
    page->MarkDirty();
    offset = 0;
  };
  startPage(FFile.Descriptor(SysTextSlot).TextParamsPage);
  for (std::size_t size : sizes) {
    if (offset + size > BodySize) startPage(page->NextPage());
    auto body = page->Body();
    std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(from), size, body.begin() + static_cast<std::ptrdiff_t>(offset));
    offset += size;
    from += size;
  }
  // Pages after the last one used go back to slot 32's free list.
  std::int32_t surplus = page->NextPage();
  page->SetNextPage(0);
  int guard = 0;
  while (surplus != 0 && ++guard <= FFile.NextPageNumber()) {
    TPagePin extra = FFile.GetPage(ctx, surplus);
    if (!extra || extra->Type() != TPageType::TextParams) break;
    surplus = extra->NextPage();
    FFile.FreePage(ctx, *extra);
  }
}

}  // namespace tarn
