#include "restructure_fixture.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/index/btree.h"
#include "engine/index/keys.h"
#include "engine/index/text_params_chain.h"
#include "engine/index/text_words.h"
#include "engine/table/data_file.h"
#include "engine/table/data_header.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace restructure_testing {

using namespace tarn;
namespace fs = std::filesystem;

std::vector<char> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::int64_t RecordsStart(const TFileImage& image) {
  std::array<std::uint8_t, 2> count{};
  std::copy_n(image.Data.begin() + static_cast<std::ptrdiff_t>(DataHeaderLayout::FieldCount), 2, count.begin());
  return DataFormat::RecordsOffset(GetLE16(count, 0));
}

TErrorCode CodeOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const ETarnEngineError& e) {
    return e.ErrorCode();
  }
  return TARN_NONE;
}

TIndexDescriptor Over(std::string name, std::initializer_list<std::int16_t> fields, bool unique) {
  TIndexDescriptor d;
  d.IndexName = std::move(name);
  d.Unique = unique;
  int i = 0;
  for (std::int16_t f : fields) d.FieldNumbers[static_cast<std::size_t>(i++)] = f;
  return d;
}

std::vector<std::uint8_t> I32Bytes(std::int32_t v) {
  std::vector<std::uint8_t> b(4);
  PutLEI32(b, 0, v);
  return b;
}

std::vector<std::uint8_t> TextBytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string BlobText(TDataCursor& cursor, int fieldNo, std::span<const std::uint8_t> image) {
  std::vector<std::uint8_t> copy(image.begin(), image.end());
  std::uint32_t size = 0;
  EXPECT_EQ(cursor.OpenBlob(fieldNo, copy, TDataCursor::TBlobMode::Read, size), TARN_NONE);
  std::string text(size, '\0');
  std::uint32_t got = 0;
  EXPECT_EQ(cursor.ReadBlob(fieldNo, copy, 0, size,
                            std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(text.data()), size), got),
            TARN_NONE);
  EXPECT_EQ(cursor.CloseBlob(fieldNo, copy), TARN_NONE);
  return text;
}

bool SeekId(TDataCursor& cursor, std::int32_t id) {
  std::vector<std::uint8_t> b(cursor.RecordSize());
  cursor.InitRecord(b);
  cursor.PutField(1, b, std::span<const std::uint8_t>(I32Bytes(id)));
  return cursor.SetToKey(false, b, 1);
}

void CheckIndexes(TDataCursor& cursor) {
  using TEntry = std::pair<std::vector<std::uint8_t>, std::int32_t>;
  TDataTable& table = cursor.Table();
  TDataFile& data = table.DataFile();
  TIndexFile& index = table.IndexFile();
  TBTree tree(index);
  const std::int32_t slots = data.GetPhysicalRecordCount();
  std::vector<std::vector<std::uint8_t>> images(static_cast<std::size_t>(slots) + 1);
  std::vector<std::int32_t> live;
  for (std::int32_t r = 1; r <= slots; ++r) {
    TRecordPin pin = data.GetRecord(nullptr, r);
    images[static_cast<std::size_t>(r)].assign(pin->Data().begin(), pin->Data().end());
    if (!pin->IsDeleted()) live.push_back(r);
  }
  EXPECT_EQ(index.RecordCount(), static_cast<std::int32_t>(live.size()));
  auto expectSlot = [&](int slot, std::vector<TEntry> want) {
    TFixedTreeContext ctx(slot);
    std::vector<TEntry> got;
    const std::size_t size = index.KeyDef(slot).KeySize;
    const TTreeCheck check = tree.Check(ctx, [&](const std::uint8_t* key, std::int32_t ref) {
      got.emplace_back(std::vector<std::uint8_t>(key, key + size), ref);
    });
    EXPECT_TRUE(check.Ok) << "slot " << slot << ": " << check.Error;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_TRUE(got == want) << "slot " << slot << " holds " << got.size() << " keys, wanted " << want.size();
  };
  for (int slot = index.NoPrimaryIndex() ? 1 : 0; slot <= index.IndexCount(); ++slot) {
    const TKeyDef& def = index.KeyDef(slot);
    std::vector<TEntry> want;
    for (const std::int32_t r : live) {
      std::vector<std::uint8_t> key(def.KeySize);
      BuildKey(def, images[static_cast<std::size_t>(r)], key);
      want.emplace_back(key, r);
    }
    expectSlot(slot, want);
  }
  {
    std::vector<TEntry> want;
    for (std::int32_t r = 1; r <= slots; ++r) {
      const std::vector<std::uint8_t>& image = images[static_cast<std::size_t>(r)];
      std::vector<std::uint8_t> key(KeyLimits::DeletedKeySize);
      key[0] = image[RecordLayout::RecDeleted] != 0 ? 1 : 0;
      EncodeAutoIncKey(static_cast<std::int32_t>(GetLE32(image, RecordLayout::RecAutoInc)),
                       std::span<std::uint8_t>(key).subspan(1));
      want.emplace_back(key, r);
    }
    expectSlot(SysDeletedSlot, want);
  }
  const TIndexDescriptor& text = index.Descriptor(SysTextSlot);
  if (text.FieldCount == 0) return;
  TTextIndexParams params = TTextIndexParams::Defaults();
  {
    TFixedTreeContext ctx(SysTextSlot);
    TTextParamsChain(index).Read(ctx, params);
  }
  const TTextKeyBuilder words(params, cursor.LanguageId(), cursor.SortId());
  std::vector<TEntry> want;
  std::vector<TTextKey> keys;
  for (const std::int32_t r : live) {
    const std::vector<std::uint8_t>& image = images[static_cast<std::size_t>(r)];
    const auto autoInc = static_cast<std::int32_t>(GetLE32(image, RecordLayout::RecAutoInc));
    for (int i = 0; i < text.FieldCount; ++i) {
      const int fieldNo = text.FieldNumbers[static_cast<std::size_t>(i)];
      const TFieldDesc& f = cursor.Field(fieldNo);
      std::string content;
      if (f.FieldType() == FieldType::String) {
        const TFieldRead read = cursor.GetField(fieldNo, image);
        if (!read.Blank) content = reinterpret_cast<const char*>(read.Bytes.data());
      } else {
        content = BlobText(cursor, fieldNo, image);
      }
      if (content.empty()) continue;
      words.BuildKeys(static_cast<std::uint16_t>(fieldNo), content.data(), content.size(), autoInc, keys);
      for (const TTextKey& k : keys) want.emplace_back(std::vector<std::uint8_t>(k.begin(), k.end()), r);
    }
  }
  expectSlot(SysTextSlot, want);
}

std::unique_ptr<TDataCursor> TRestructureFixture::Cursor(std::string_view name, bool exclusive) {
  auto c = std::make_unique<TDataCursor>(FDir);
  c->SetTableName(name);
  c->SetExclusive(exclusive);
  return c;
}

std::unique_ptr<TDataCursor> TRestructureFixture::Open(std::string_view name, bool exclusive) {
  auto c = Cursor(name, exclusive);
  c->OpenCursor();
  return c;
}

bool TRestructureFixture::Exists(const std::string& file) const { return fs::exists(FTemp.File(file)); }

TFileImage TRestructureFixture::TableImage(const std::string& table) const {
  return {FileBytes(FTemp.File(table + ".DAT")), FileBytes(FTemp.File(table + ".IDX")),
          FileBytes(FTemp.File(table + ".BLB"))};
}

void TRestructureFixture::PutTableImage(const std::string& table, const TFileImage& image) const {
  const auto put = [](const std::string& path, const std::vector<char>& bytes) {
    if (bytes.empty()) {
      fs::remove(path);
      return;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  };
  put(FTemp.File(table + ".DAT"), image.Data);
  put(FTemp.File(table + ".IDX"), image.Index);
  put(FTemp.File(table + ".BLB"), image.Blob);
}

std::vector<std::string> TRestructureFixture::OtherFiles(const std::string& table) const {
  std::vector<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(FTemp.Path())) {
    const std::string name = e.path().filename().string();
    if (name != table + ".DAT" && name != table + ".IDX" && name != table + ".BLB") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool TRestructureFixture::WorkDirEmpty() const { return fs::is_empty(FWork.Path()); }

}  // namespace restructure_testing
