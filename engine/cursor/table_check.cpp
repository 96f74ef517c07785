#include "engine/cursor/table_check.h"

#include <algorithm>
#include <array>
#include <exception>
#include <string_view>
#include <unordered_map>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/blob/blob_file.h"
#include "engine/blob/block.h"
#include "engine/cursor/data_cursor.h"
#include "engine/index/btree.h"
#include "engine/index/index_file.h"
#include "engine/index/keys.h"
#include "engine/index/tree_context.h"
#include "engine/session/data_table.h"
#include "engine/table/data_file.h"
#include "engine/table/field_types.h"
#include "engine/table/record_layout.h"

namespace tarn {

const char* TableFilePartName(TTableFilePart part) {
  switch (part) {
    case TTableFilePart::Data: return "data";
    case TTableFilePart::Index: return "index";
    case TTableFilePart::Blob: return "blob";
  }
  return "?";
}

namespace {

// Why an engine call failed, as one line (an engine error's text carries its
// code).
std::string Reason(const std::exception& e) { return e.what(); }

// A key with its record reference, as compared between the records and a
// tree: the key bytes followed by the reference, big-endian, so that byte
// order sorts by key first.
std::string KeyEntry(const std::uint8_t* key, std::size_t size, std::int32_t ref) {
  std::string entry(reinterpret_cast<const char*>(key), size);
  const auto u = static_cast<std::uint32_t>(ref);
  for (int shift = 24; shift >= 0; shift -= 8) entry.push_back(static_cast<char>((u >> shift) & 0xFF));
  return entry;
}

std::int32_t EntryRef(const std::string& entry) {
  std::uint32_t u = 0;
  for (std::size_t i = entry.size() - 4; i < entry.size(); ++i) u = (u << 8) | static_cast<std::uint8_t>(entry[i]);
  return static_cast<std::int32_t>(u);
}

std::string HexKey(const std::string& entry) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  const std::size_t n = std::min<std::size_t>(entry.size() - 4, 24);
  for (std::size_t i = 0; i < n; ++i) {
    const auto b = static_cast<std::uint8_t>(entry[i]);
    hex.push_back(digits[b >> 4]);
    hex.push_back(digits[b & 15]);
  }
  if (entry.size() - 4 > n) hex += "...";
  return hex;
}

}  // namespace

// A friend of TDataCursor: it builds the "Sys Text" keys of a record the way
// record modification does.
class TTableChecker {
 public:
  TTableChecker(TDataCursor& cursor, const TTableCheckProgress& progress, std::size_t limit)
      : FCursor(cursor), FTable(cursor.Table()), FProgress(progress), FLimit(limit) {}

  TTableCheckResult Run() {
    TTableReadBracket lock(FTable);
    CheckMarks();
    Report(0.0);
    CheckRecords();
    Report(0.4);
    CheckIndexes();
    Report(0.8);
    CheckBlobs();
    Report(1.0);
    return std::move(FResult);
  }

 private:
  // One active record as the later passes need it.
  struct TLive {
    std::int32_t RecordNo;
    std::int32_t AutoInc;
  };

  void Problem(TTableFilePart file, std::int64_t offset, std::int32_t recordNo, std::string text) {
    if (FResult.Problems.size() >= FLimit) {
      ++FResult.MoreProblems;
      return;
    }
    FResult.Problems.push_back({file, offset, recordNo, std::move(text)});
  }

  void Report(double done) {
    if (FProgress) FProgress(done);
  }

  std::int64_t RecordOffset(std::int32_t recordNo) const {
    const TDataFile& data = FTable.DataFile();
    return data.RecordsOffset() + static_cast<std::int64_t>(recordNo - 1) * data.GetRecordSize();
  }
  static std::int64_t PageOffset(std::int32_t pageNo) {
    return static_cast<std::int64_t>(pageNo) * IndexPageLayout::PageSize;
  }
  std::int64_t BlockOffset(std::int32_t blockNo) const {
    return static_cast<std::int64_t>(blockNo - 1) * FTable.BlobFile().BlockSize() +
           static_cast<std::int64_t>(BlobHeader::Size);
  }

  // ---- marks ----

  void CheckMarks() {
    if (FTable.DataFile().WriteInProgress()) {
      Problem(TTableFilePart::Data, 0, 0, "an interrupted write left its mark in the header");
    }
    if (FTable.IndexFile().WriteInProgress()) {
      Problem(TTableFilePart::Index, 0, 0, "an interrupted write left its mark in the header");
    }
    if (FTable.HasBlobFields() && FTable.BlobFile().Header().WriteInProgress) {
      Problem(TTableFilePart::Blob, 0, 0, "an interrupted write left its mark in the header");
    }
  }

  // ---- records and the free list ----

  void CheckRecords() {
    TDataFile& data = FTable.DataFile();
    const std::int32_t slots = data.GetPhysicalRecordCount();
    FDeleted.assign(static_cast<std::size_t>(std::max(slots, 0)) + 1, false);
    FReadable.assign(FDeleted.size(), false);
    std::unordered_map<std::int32_t, std::int32_t> autoIncs;
    for (std::int32_t r = 1; r <= slots; ++r) {
      if ((r & 0xFFFF) == 0) Report(0.4 * r / slots);
      std::vector<std::uint8_t> image;
      try {
        TRecordPin pin = data.GetRecord(nullptr, r);
        if (!pin) throw ETarnEngineError(TARN_FILECORRUPT);
        image.assign(pin->Data().begin(), pin->Data().end());
      } catch (const std::exception& e) {
        Problem(TTableFilePart::Data, RecordOffset(r), r, "record cannot be read: " + Reason(e));
        continue;
      }
      FReadable[static_cast<std::size_t>(r)] = true;
      const bool deleted = image[RecordLayout::RecDeleted] != 0;
      if (image[RecordLayout::RecDeleted] > 1) {
        Problem(TTableFilePart::Data, RecordOffset(r), r,
                "deleted flag is " + std::to_string(image[RecordLayout::RecDeleted]));
      }
      FDeleted[static_cast<std::size_t>(r)] = deleted;
      const auto autoInc = static_cast<std::int32_t>(GetLE32(image, RecordLayout::RecAutoInc));
      if (deleted) {
        ++FResult.DeletedRecords;
        FDeletedAutoInc.push_back({r, autoInc});
        continue;
      }
      ++FResult.ActiveRecords;
      const auto [it, fresh] = autoIncs.emplace(autoInc, r);
      if (!fresh) {
        Problem(TTableFilePart::Data, RecordOffset(r), r,
                "record identifier " + std::to_string(autoInc) + " is also that of record " +
                    std::to_string(it->second));
      }
      FLive.push_back({r, autoInc});
      FImages.push_back(std::move(image));
    }
    CheckFreeList(slots);
  }

  void CheckFreeList(std::int32_t slots) {
    TDataFile& data = FTable.DataFile();
    std::vector<bool> onList(static_cast<std::size_t>(std::max(slots, 0)) + 1, false);
    std::int32_t at = data.GetFirstFreeRecord();
    std::int32_t from = 0;
    while (at != 0) {
      const std::int64_t offset = from == 0 ? 0 : RecordOffset(from);
      if (at < 0 || at > slots) {
        Problem(TTableFilePart::Data, offset, from, "free list leads outside the file to slot " + std::to_string(at));
        break;
      }
      if (onList[static_cast<std::size_t>(at)]) {
        Problem(TTableFilePart::Data, offset, from, "free list loops back to slot " + std::to_string(at));
        break;
      }
      onList[static_cast<std::size_t>(at)] = true;
      if (!FReadable[static_cast<std::size_t>(at)]) break;
      if (!FDeleted[static_cast<std::size_t>(at)]) {
        Problem(TTableFilePart::Data, offset, from, "free list leads to active record " + std::to_string(at));
        break;
      }
      std::int32_t next = 0;
      try {
        TRecordPin pin = data.GetRecord(nullptr, at);
        if (!pin) break;
        next = pin->GetFreeLink();
      } catch (const std::exception&) {
        break;
      }
      from = at;
      at = next;
    }
    for (std::int32_t r = 1; r <= slots; ++r) {
      const auto i = static_cast<std::size_t>(r);
      if (FReadable[i] && FDeleted[i] && !onList[i]) {
        Problem(TTableFilePart::Data, RecordOffset(r), r, "deleted slot is not on the free list");
      }
    }
  }

  // ---- indexes ----

  void CheckIndexes() {
    TIndexFile& index = FTable.IndexFile();
    if (index.RecordCount() != FResult.ActiveRecords) {
      Problem(TTableFilePart::Index, 0, 0,
              "header counts " + std::to_string(index.RecordCount()) + " records, the data file holds " +
                  std::to_string(FResult.ActiveRecords));
    }
    std::vector<int> slots;
    for (int slot = index.NoPrimaryIndex() ? 1 : 0; slot <= index.IndexCount(); ++slot) {
      if (!index.Descriptor(slot).Temporary) slots.push_back(slot);
    }
    slots.push_back(KeyLimits::DeletedSlot);
    if (index.Descriptor(KeyLimits::TextSlot).FieldCount > 0) slots.push_back(KeyLimits::TextSlot);
    for (int slot : slots) CheckIndex(slot);
  }

  std::string IndexLabel(int slot) {
    if (slot == 0) return "primary index";
    if (slot == KeyLimits::DeletedSlot) return "index \"Sys Deleted\"";
    if (slot == KeyLimits::TextSlot) return "index \"Sys Text\"";
    return "index \"" + FTable.IndexFile().Descriptor(slot).IndexName + "\"";
  }

  void CheckIndex(int slot) {
    TIndexFile& index = FTable.IndexFile();
    const TKeyDef& def = index.KeyDef(slot);
    const std::size_t keySize = def.KeySize;
    const std::string label = IndexLabel(slot);

    std::vector<std::string> found;
    TFixedTreeContext context(slot);
    TTreeCheck check;
    try {
      check = TBTree(index).Check(context, [&](const std::uint8_t* key, std::int32_t ref) {
        found.push_back(KeyEntry(key, keySize, ref));
      });
    } catch (const std::exception& e) {
      Problem(TTableFilePart::Index, 0, 0, label + " cannot be read: " + Reason(e));
      return;
    }
    if (!check.Ok) {
      Problem(TTableFilePart::Index, 0, 0, label + " is damaged: " + check.Error);
      return;
    }
    FResult.Keys += static_cast<std::int64_t>(found.size());
    for (std::int32_t page : check.Pages) ClaimPage(page, slot, label);
    for (std::int32_t page : check.FreePages) ClaimPage(page, slot, label + " (free list)");

    std::vector<std::string> expected;
    if (!ExpectedKeys(slot, def, expected, label)) return;
    std::sort(found.begin(), found.end());
    std::sort(expected.begin(), expected.end());
    CompareKeys(expected, found, label);
  }

  void ClaimPage(std::int32_t page, int slot, const std::string& label) {
    const auto [it, fresh] = FPageOwner.emplace(page, slot);
    if (!fresh) {
      Problem(TTableFilePart::Index, PageOffset(page), 0,
              "page " + std::to_string(page) + " of " + label + " is also used by " + IndexLabel(it->second));
    }
  }

  // The keys the records give the index; false (reported) when they cannot
  // be built.
  bool ExpectedKeys(int slot, const TKeyDef& def, std::vector<std::string>& out, const std::string& label) {
    std::array<std::uint8_t, KeyLimits::MaxKeySize> key{};
    if (slot == KeyLimits::DeletedSlot) {
      for (const TLive& live : FLive) out.push_back(DeletedEntry(false, live.AutoInc, live.RecordNo));
      for (const TLive& gone : FDeletedAutoInc) out.push_back(DeletedEntry(true, gone.AutoInc, gone.RecordNo));
      return true;
    }
    for (std::size_t i = 0; i < FLive.size(); ++i) {
      const std::vector<std::uint8_t>& image = FImages[i];
      const std::int32_t recordNo = FLive[i].RecordNo;
      try {
        if (slot == KeyLimits::TextSlot) {
          FCursor.TextKeys(image, FLive[i].AutoInc, false, FTextKeys);
          std::sort(FTextKeys.begin(), FTextKeys.end());
          FTextKeys.erase(std::unique(FTextKeys.begin(), FTextKeys.end()), FTextKeys.end());
          for (const auto& k : FTextKeys) out.push_back(KeyEntry(k.data(), k.size(), recordNo));
        } else {
          BuildKey(def, image, std::span<std::uint8_t>(key.data(), def.KeySize));
          out.push_back(KeyEntry(key.data(), def.KeySize, recordNo));
        }
      } catch (const std::exception& e) {
        Problem(TTableFilePart::Data, RecordOffset(recordNo), recordNo,
                "keys of " + label + " cannot be built: " + Reason(e));
        if (slot == KeyLimits::TextSlot) return false;
      }
    }
    return true;
  }

  static std::string DeletedEntry(bool deleted, std::int32_t autoInc, std::int32_t recordNo) {
    std::array<std::uint8_t, KeyLimits::DeletedKeySize> key{};
    key[0] = deleted ? 1 : 0;
    EncodeAutoIncKey(autoInc, std::span<std::uint8_t>(key.data() + 1, KeyLimits::AutoIncSize));
    return KeyEntry(key.data(), key.size(), recordNo);
  }

  void CompareKeys(const std::vector<std::string>& expected, const std::vector<std::string>& found,
                   const std::string& label) {
    std::size_t e = 0;
    std::size_t f = 0;
    while (e < expected.size() || f < found.size()) {
      if (f == found.size() || (e < expected.size() && expected[e] < found[f])) {
        const std::int32_t r = EntryRef(expected[e]);
        Problem(TTableFilePart::Index, 0, r, label + " lacks the key " + HexKey(expected[e]) + " of record " +
                                                 std::to_string(r));
        ++e;
      } else if (e == expected.size() || found[f] < expected[e]) {
        const std::int32_t r = EntryRef(found[f]);
        Problem(TTableFilePart::Index, 0, r, label + " holds the key " + HexKey(found[f]) + " for record " +
                                                 std::to_string(r) + ", which does not give it");
        ++f;
      } else {
        ++e;
        ++f;
      }
    }
  }

  // ---- blobs ----

  void CheckBlobs() {
    if (!FTable.HasBlobFields()) return;
    TBlobFile& blobs = FTable.BlobFile();
    const TBlobHeader& header = blobs.Header();
    if (header.BlobVersion != BlobHeader::CurrentVersion || header.NextBlockNumber < 1 ||
        header.FreeBlockList < 0 || header.FreeBlockList >= header.NextBlockNumber) {
      Problem(TTableFilePart::Blob, 0, 0, "header is damaged (version, next block or free list)");
      return;
    }
    FBlockOwner.assign(static_cast<std::size_t>(header.NextBlockNumber), 0);
    std::vector<const TFieldDesc*> blobFields;
    for (int n = 1; n <= FCursor.FieldCount(); ++n) {
      if (FCursor.Field(n).FieldType() == FieldType::Blob) blobFields.push_back(&FCursor.Field(n));
    }
    for (std::size_t i = 0; i < FLive.size(); ++i) {
      const std::vector<std::uint8_t>& image = FImages[i];
      for (const TFieldDesc* field : blobFields) {
        TFieldRead read;
        try {
          read = GetFieldValue(image, *field);
        } catch (const std::exception&) {
          continue;  // reported with the keys
        }
        const auto first = static_cast<std::int32_t>(GetLE32(read.Bytes, RecordLayout::BlobFirstBlock));
        if (first == 0) continue;
        CheckChain(FLive[i].RecordNo, *field, first, GetBlobStamp(image, *field));
      }
    }
    CheckFreeBlocks();
    for (std::size_t n = 1; n < FBlockOwner.size(); ++n) {
      if (FBlockOwner[n] == 0) {
        const auto blockNo = static_cast<std::int32_t>(n);
        Problem(TTableFilePart::Blob, BlockOffset(blockNo), 0,
                "block " + std::to_string(blockNo) + " is neither in a blob nor free");
      }
    }
  }

  void CheckChain(std::int32_t recordNo, const TFieldDesc& field, std::int32_t first, std::int32_t stamp) {
    TBlobFile& blobs = FTable.BlobFile();
    const std::string what = "blob of field \"" + std::string(field.FieldName()) + "\"";
    const std::int64_t dataSize = blobs.BlockDataSize();
    ++FResult.BlobChains;
    std::int32_t at = first;
    std::int32_t prev = 0;
    std::int64_t blocks = 0;
    std::int64_t length = 0;
    std::int64_t total = 0;
    while (at != 0) {
      if (!blobs.IsBlockInFile(at)) {
        Problem(TTableFilePart::Blob, prev == 0 ? 0 : BlockOffset(prev), recordNo,
                what + " links to block " + std::to_string(at) + " outside the file");
        return;
      }
      std::int32_t& owner = FBlockOwner[static_cast<std::size_t>(at)];
      if (owner != 0) {
        Problem(TTableFilePart::Blob, BlockOffset(at), recordNo,
                what + " runs into block " + std::to_string(at) + ", already " +
                    (owner < 0 ? std::string("free") : "used by record " + std::to_string(owner)));
        return;
      }
      owner = recordNo;
      TBlockPin pin;
      try {
        pin = blobs.GetBlock(nullptr, at, 1, false);
      } catch (const std::exception& e) {
        Problem(TTableFilePart::Blob, BlockOffset(at), recordNo, what + " cannot be read: " + Reason(e));
        return;
      }
      const TBlock& block = *pin;
      ++blocks;
      ++FResult.BlobBlocks;
      const auto fail = [&](const std::string& text) {
        Problem(TTableFilePart::Blob, BlockOffset(at), recordNo, what + ": block " + std::to_string(at) + " " + text);
      };
      if (block.PrevBlock() != prev) fail("links back to " + std::to_string(block.PrevBlock()) + ", not " + std::to_string(prev));
      if (block.BlobStamp() != stamp) fail("carries a foreign stamp");
      if (prev == 0) {
        total = block.BlobSize();
        if (total == 0) fail("is the first block of an empty blob");
      } else if (block.BlobSize() != 0) {
        fail("carries a size though it is not the first block");
      }
      if (block.UsedBytes() > dataSize) {
        fail("uses more bytes than a block holds");
        return;
      }
      if (block.NextBlock() != 0 && block.UsedBytes() != dataSize) fail("is not full though not the last");
      length += block.UsedBytes();
      prev = at;
      at = block.NextBlock();
      if (blocks > FTable.BlobFile().Header().NextBlockNumber) return;  // cannot loop: owners catch it first
    }
    if (length != total) {
      Problem(TTableFilePart::Blob, BlockOffset(first), recordNo,
              what + " holds " + std::to_string(length) + " bytes, its first block says " + std::to_string(total));
    }
  }

  void CheckFreeBlocks() {
    TBlobFile& blobs = FTable.BlobFile();
    std::int32_t at = blobs.Header().FreeBlockList;
    std::int32_t from = 0;
    while (at != 0) {
      const std::int64_t offset = from == 0 ? 0 : BlockOffset(from);
      if (!blobs.IsBlockInFile(at)) {
        Problem(TTableFilePart::Blob, offset, 0, "free list leads outside the file to block " + std::to_string(at));
        return;
      }
      std::int32_t& owner = FBlockOwner[static_cast<std::size_t>(at)];
      if (owner != 0) {
        Problem(TTableFilePart::Blob, offset, 0,
                "free list runs into block " + std::to_string(at) + ", already " +
                    (owner < 0 ? std::string("on the free list") : "used by record " + std::to_string(owner)));
        return;
      }
      owner = -1;
      ++FResult.FreeBlocks;
      try {
        TBlockPin pin = blobs.GetBlock(nullptr, at, 1, false);
        from = at;
        at = pin->NextBlock();
      } catch (const std::exception& e) {
        Problem(TTableFilePart::Blob, BlockOffset(at), 0, "free block cannot be read: " + Reason(e));
        return;
      }
    }
  }

  TDataCursor& FCursor;
  TDataTable& FTable;
  const TTableCheckProgress& FProgress;
  std::size_t FLimit;
  TTableCheckResult FResult;

  // Per record slot (index = record number).
  std::vector<bool> FDeleted;
  std::vector<bool> FReadable;
  // Active records and their images, in record-number order.
  std::vector<TLive> FLive;
  std::vector<std::vector<std::uint8_t>> FImages;
  std::vector<TLive> FDeletedAutoInc;
  std::vector<std::array<std::uint8_t, KeyLimits::TextKeySize>> FTextKeys;
  std::unordered_map<std::int32_t, int> FPageOwner;
  // Per blob block: 0 unclaimed, -1 free, else the owning record.
  std::vector<std::int32_t> FBlockOwner;
};

TTableCheckResult CheckTable(TDataCursor& cursor, const TTableCheckProgress& progress, std::size_t limit) {
  return TTableChecker(cursor, progress, limit).Run();
}

}  // namespace tarn
