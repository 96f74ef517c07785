// Blob streams over the engine's blob buffers: a table of stream operations
// against a std::string model, the modes' rules, ending a stream, and the
// refresh when the record changed on disk.

#include "dbcomp/blob_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dbcomp/blob_access.h"
#include "dbcomp/blob_stream_host.h"
#include "engine/base/engine_error.h"
#include "engine/base/error_context.h"
#include "engine/blob/blob_buffer.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_desc.h"
#include "engine/table/field_types.h"
#include "support/temp_dir.h"

namespace dbcomp {
namespace {

constexpr int MemoField = 2;

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

// The cursor's open-blob operations over TBlobBuffer, one record buffer.
class TBufferCursor : public TBlobAccess {
 public:
  explicit TBufferCursor(tarn::TBlobFile& file) : FFile(file) {}

  tarn::TErrorCode OpenBlob(int fieldNo, std::span<std::uint8_t>, bool,
                            std::uint32_t& size) override {
    ++Opens;
    if (OpenFailures > 0) {
      --OpenFailures;
      return tarn::TARN_KEYORRECDELETED;
    }
    std::unique_ptr<tarn::TBlobBuffer>& buffer = FBuffers[fieldNo];
    if (buffer) {
      buffer->Open();
    } else {
      buffer = std::make_unique<tarn::TBlobBuffer>(FFile, nullptr, fieldNo, FirstBlock, Stamp, 1);
      buffer->LoadBlob();
    }
    size = static_cast<std::uint32_t>(buffer->Size());
    return tarn::TARN_NONE;
  }
  tarn::TErrorCode ReadBlob(int fieldNo, std::span<std::uint8_t>, std::uint32_t offset,
                            std::span<std::uint8_t> dest, std::uint32_t& count) override {
    tarn::TBlobBuffer* b = Find(fieldNo);
    if (b == nullptr) return tarn::TARN_INVALIDBLOBHANDLE;
    const std::size_t size = b->Size();
    count = offset >= size ? 0 : static_cast<std::uint32_t>(std::min(dest.size(), size - offset));
    std::copy_n(b->Data().begin() + (offset >= size ? 0 : offset), count, dest.begin());
    return count < dest.size() ? tarn::TARN_ENDOFBLOB : tarn::TARN_NONE;
  }
  tarn::TErrorCode WriteBlob(int fieldNo, std::span<std::uint8_t>, std::uint32_t offset,
                             std::span<const std::uint8_t> source) override {
    tarn::TBlobBuffer* b = Find(fieldNo);
    if (b == nullptr) return tarn::TARN_INVALIDBLOBHANDLE;
    b->Write(offset, source);
    return tarn::TARN_NONE;
  }
  tarn::TErrorCode TruncateBlob(int fieldNo, std::span<std::uint8_t>, std::uint32_t size) override {
    tarn::TBlobBuffer* b = Find(fieldNo);
    if (b == nullptr) return tarn::TARN_INVALIDBLOBHANDLE;
    b->SetBlobSize(size);
    return tarn::TARN_NONE;
  }
  tarn::TErrorCode GetBlobSize(int fieldNo, std::span<std::uint8_t>, std::uint32_t& size) override {
    tarn::TBlobBuffer* b = Find(fieldNo);
    if (b == nullptr) return tarn::TARN_INVALIDBLOBHANDLE;
    size = static_cast<std::uint32_t>(b->Size());
    return tarn::TARN_NONE;
  }
  tarn::TErrorCode CloseBlob(int fieldNo, std::span<std::uint8_t>) override {
    tarn::TBlobBuffer* b = Find(fieldNo);
    if (b == nullptr) return tarn::TARN_INVALIDBLOBHANDLE;
    if (b->Close() == 0) FBuffers.erase(fieldNo);
    return tarn::TARN_NONE;
  }
  void RaiseIfError(tarn::TErrorCode code, std::string_view argument) override {
    if (code != tarn::TARN_NONE) tarn::RaiseEngineError(code, {.Table = "Quiz", .Field = argument});
  }

  // What posting the record does: the modified buffer goes to the blob file
  // and the record keeps its new reference.
  void Post(int fieldNo) {
    tarn::TBlobBuffer* b = Find(fieldNo);
    tarn::TBlobBuffer* list[] = {b};
    tarn::SaveModifiedBlobs(FFile, list);
    FirstBlock = b->FirstBlock();
    Stamp = b->BlobStamp();
    FBuffers.erase(fieldNo);
  }

  tarn::TBlobBuffer* Find(int fieldNo) const {
    const auto it = FBuffers.find(fieldNo);
    return it == FBuffers.end() ? nullptr : it->second.get();
  }

  std::int32_t FirstBlock = 0;
  std::int32_t Stamp = 0;
  int Opens = 0;
  int OpenFailures = 0;

 private:
  tarn::TBlobFile& FFile;
  std::map<int, std::unique_ptr<tarn::TBlobBuffer>> FBuffers;
};

// The field "Memo" of a dataset in edit state with a current record.
class TFakeHost : public TBlobStreamHost {
 public:
  explicit TFakeHost(TBufferCursor& cursor) : FCursor(cursor) {}
  int FieldNo() const override { return MemoField; }
  std::string FieldName() const override { return "Memo"; }
  std::string FieldDisplayName() const override { return "Question text"; }
  bool FieldReadOnly() const override { return ReadOnly; }
  bool FieldModified() const override { return Modified; }
  void SetFieldModified() override { Modified = true; }
  void NotifyFieldChanged() override {
    ++Changes;
    if (FailChange) throw std::runtime_error("link refused");
  }
  void ReportFieldChangeError(const std::exception_ptr&) noexcept override { ++Reported; }
  std::span<std::uint8_t> StateRecordBuffer() override {
    return HasRecord ? std::span<std::uint8_t>(Record) : std::span<std::uint8_t>();
  }
  bool Editing() const override { return EditState; }
  bool ShowingOldValues() const override { return OldValues; }
  void Refresh() override { ++Refreshes; }
  TBlobAccess& Cursor() override { return FCursor; }

  std::vector<std::uint8_t> Record = std::vector<std::uint8_t>(32);
  bool HasRecord = true;
  bool EditState = true;
  bool OldValues = false;
  bool ReadOnly = false;
  bool Modified = false;
  bool FailChange = false;
  int Refreshes = 0;
  int Changes = 0;
  int Reported = 0;

 private:
  TBufferCursor& FCursor;
};

// A table with the blob field "Memo" in 512-byte blocks (494 data bytes
// each) holding a 3000-byte value, written to disk and opened again.
class BlobStreamTest : public ::testing::Test {
 protected:
  BlobStreamTest() {
    for (int i = 0; i < 3000; ++i) FStored += static_cast<char>('a' + (i * 7 + i / 26) % 26);
    tarn::TTableDefinition def;
    def.Fields.push_back(tarn::MakeFieldDesc(1, "Name", tarn::FieldType::String, 0, 20));
    def.Fields.push_back(
        tarn::MakeFieldDesc(MemoField, "Memo", tarn::FieldType::Blob, tarn::FieldSubType::Memo));
    tarn::AssignFieldOffsets(def.Fields);
    def.BlobBlockSize = 512;
    tarn::TDataTable& created = FDir.CreateTable("Quiz", false, false, def);
    TBufferCursor writer(created.BlobFile());
    {
      TFakeHost host(writer);
      TTarnBlobStream stream(host, TBlobStreamMode::bmWrite);
      stream.Write(Bytes(FStored));
    }
    writer.Post(MemoField);
    FirstBlock = writer.FirstBlock;
    Stamp = writer.Stamp;
    EXPECT_NE(FirstBlock, 0);  // the value went to the blob file
    FDir.ReleaseTable(created, false);
    FTable = &FDir.OpenTable("Quiz", {});
    FCursor = std::make_unique<TBufferCursor>(FTable->BlobFile());
    FCursor->FirstBlock = FirstBlock;
    FCursor->Stamp = Stamp;
    FHost = std::make_unique<TFakeHost>(*FCursor);
  }
  ~BlobStreamTest() override {
    FHost.reset();
    FCursor.reset();
    FDir.ReleaseTable(*FTable, false);
  }

  testing_support::TTempDir FTemp;
  tarn::TDataSession FSession;
  tarn::TDataDirectory& FDir = FSession.OpenDirectory("Quiz", FTemp.Path());
  tarn::TDataTable* FTable = nullptr;
  std::string FStored;
  std::int32_t FirstBlock = 0;
  std::int32_t Stamp = 0;
  std::unique_ptr<TBufferCursor> FCursor;
  std::unique_ptr<TFakeHost> FHost;
};

// The stream's rules on a plain string.
struct TModel {
  std::string Data;
  std::int32_t Position = 0;

  std::string Read(std::int32_t count) {
    if (Position < 0 || Position >= static_cast<std::int32_t>(Data.size())) return {};
    std::string part =
        Data.substr(static_cast<std::size_t>(Position), static_cast<std::size_t>(count));
    Position += static_cast<std::int32_t>(part.size());
    return part;
  }
  void Write(const std::string& text) {
    const auto at = static_cast<std::size_t>(Position);
    if (Data.size() < at + text.size()) Data.resize(at + text.size(), '\0');
    Data.replace(at, text.size(), text);
    Position += static_cast<std::int32_t>(text.size());
  }
  std::int32_t Seek(std::int32_t offset, TSeekOrigin origin) {
    if (origin == TSeekOrigin::soBeginning) Position = offset;
    if (origin == TSeekOrigin::soCurrent) Position += offset;
    if (origin == TSeekOrigin::soEnd) Position = static_cast<std::int32_t>(Data.size()) + offset;
    return Position;
  }
  void Truncate() { Data.resize(static_cast<std::size_t>(Position), '\0'); }
};

struct TStreamOp {
  enum TKind { Read, Write, Seek, Truncate } Kind;
  std::int32_t Count = 0;  // bytes to read, or the seek offset
  TSeekOrigin Origin = TSeekOrigin::soBeginning;
  std::string Text = {};
};

std::string Describe(const TStreamOp& op) {
  static const char* names[] = {"Read", "Write", "Seek", "Truncate"};
  return std::string(names[op.Kind]) + "(" + std::to_string(op.Count) + "," +
         std::to_string(static_cast<int>(op.Origin)) + "," + std::to_string(op.Text.size()) + ")";
}

TEST_F(BlobStreamTest, StreamOperationsMatchAStringModel) {
  using O = TStreamOp;
  using S = TSeekOrigin;
  const std::vector<TStreamOp> ops = {
      {O::Read, 490},
      {O::Read, 10},    // across the first block boundary (494)
      {O::Read, 1000},  // across two more
      {O::Seek, -7, S::soCurrent},
      {O::Read, 20},
      {O::Seek, 980, S::soBeginning},
      {O::Read, 20},  // across 988
      {O::Seek, -10, S::soEnd},
      {O::Read, 100},  // the last 10 bytes, then the end
      {O::Read, 5},    // at the end: nothing
      {O::Seek, 50, S::soEnd},
      {O::Read, 5},  // past the end: nothing
      {O::Seek, -5000, S::soCurrent},
      {O::Read, 5},  // before the start: nothing
      {O::Seek, 480, S::soBeginning},
      {O::Write, 0, S::soBeginning, std::string(40, 'X')},
      {O::Seek, 470, S::soBeginning},
      {O::Read, 60},  // written bytes read back
      {O::Seek, 3010, S::soBeginning},
      {O::Write, 0, S::soBeginning, "tail"},  // a zero-filled gap
      {O::Seek, 2995, S::soBeginning},
      {O::Read, 30},
      {O::Seek, 1500, S::soBeginning},
      {O::Truncate},
      {O::Seek, 0, S::soEnd},
      {O::Seek, -3, S::soCurrent},
      {O::Read, 10},
      {O::Write, 0, S::soBeginning, std::string(700, 'Y')},  // grows over two blocks again
      {O::Seek, 0, S::soBeginning},
      {O::Read, 5000},
      {O::Seek, 0, S::soBeginning},
      {O::Truncate},
      {O::Read, 5},
  };
  TModel model{FStored};
  TTarnBlobStream stream(*FHost, TBlobStreamMode::bmReadWrite);
  for (const TStreamOp& op : ops) {
    SCOPED_TRACE(Describe(op));
    switch (op.Kind) {
      case TStreamOp::Read: {
        std::string got(static_cast<std::size_t>(op.Count), '?');
        const std::int32_t n =
            stream.Read({reinterpret_cast<std::uint8_t*>(got.data()), got.size()});
        got.resize(static_cast<std::size_t>(n));
        EXPECT_EQ(got, model.Read(op.Count));
        break;
      }
      case TStreamOp::Write:
        EXPECT_EQ(stream.Write(Bytes(op.Text)), static_cast<std::int32_t>(op.Text.size()));
        model.Write(op.Text);
        break;
      case TStreamOp::Seek:
        EXPECT_EQ(stream.Seek(op.Count, op.Origin), model.Seek(op.Count, op.Origin));
        break;
      case TStreamOp::Truncate:
        stream.Truncate();
        model.Truncate();
        break;
    }
    EXPECT_EQ(stream.Position(), model.Position);
    EXPECT_EQ(stream.Size(), static_cast<std::int32_t>(model.Data.size()));
  }
  EXPECT_TRUE(stream.Modified());
}

TEST_F(BlobStreamTest, AReadStreamRefusesWritesAndReadsToTheEnd) {
  FHost->EditState = false;  // browse
  TTarnBlobStream stream(*FHost, TBlobStreamMode::bmRead);
  std::string before(FStored.size(), '\0');
  EXPECT_EQ(stream.Read({reinterpret_cast<std::uint8_t*>(before.data()), before.size()}), 3000);
  EXPECT_EQ(before, FStored);
  for (const std::function<void()>& change :
       {std::function<void()>([&] { stream.Write(Bytes("x")); }),
        std::function<void()>([&] { stream.Truncate(); })}) {
    try {
      change();
      ADD_FAILURE() << "changed";
    } catch (const tarn::EDatabaseError& e) {
      EXPECT_STREQ(e.what(), "Field Question text cannot be modified.");
    }
  }
  EXPECT_EQ(stream.Size(), 3000);
  EXPECT_FALSE(stream.Modified());

  // 100 bytes at 2990 of the 3000: 10, then nothing.
  std::uint8_t buf[100];
  stream.Seek(2990, TSeekOrigin::soBeginning);
  EXPECT_EQ(stream.Read(buf), 10);
  EXPECT_EQ(stream.Position(), 3000);
  EXPECT_EQ(stream.Read(buf), 0);
}

TEST_F(BlobStreamTest, WriteModesNeedAnEditAndAWritableFieldAndStartEmpty) {
  struct TCase {
    bool Editing;
    bool ReadOnly;
    const char* Expected;
  } cases[] = {
      {false, false, "Table is not in edit or insert mode."},
      {true, true, "Field Question text cannot be modified."},
      {false, true, "Field Question text cannot be modified."},
  };
  for (const TBlobStreamMode mode : {TBlobStreamMode::bmWrite, TBlobStreamMode::bmReadWrite}) {
    for (const TCase& c : cases) {
      FHost->EditState = c.Editing;
      FHost->ReadOnly = c.ReadOnly;
      try {
        TTarnBlobStream stream(*FHost, mode);
        ADD_FAILURE() << "opened";
      } catch (const tarn::EDatabaseError& e) {
        EXPECT_STREQ(e.what(), c.Expected);
      }
    }
  }
  EXPECT_EQ(FCursor->Opens, 0);
  FHost->EditState = true;
  FHost->ReadOnly = false;
  TTarnBlobStream stream(*FHost, TBlobStreamMode::bmWrite);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_TRUE(stream.Modified());
}

TEST_F(BlobStreamTest, AModifiedStreamLeavesTheBlobOpenForThePostAndTellsTheLinks) {
  { TTarnBlobStream reader(*FHost, TBlobStreamMode::bmRead); }
  EXPECT_EQ(FCursor->Find(MemoField), nullptr);  // unmodified: closed again
  EXPECT_EQ(FHost->Changes, 0);

  {
    TTarnBlobStream writer(*FHost, TBlobStreamMode::bmReadWrite);
    writer.Seek(0, TSeekOrigin::soEnd);
    writer.Write(Bytes("!"));
  }
  EXPECT_TRUE(FHost->Modified);
  EXPECT_EQ(FHost->Changes, 1);
  ASSERT_NE(FCursor->Find(MemoField), nullptr);  // kept for the post
  EXPECT_EQ(FCursor->Find(MemoField)->Size(), 3001u);

  // Later streams of the edit use the open buffer; a write stream empties it.
  const int opens = FCursor->Opens;
  {
    TTarnBlobStream reader(*FHost, TBlobStreamMode::bmRead);
    EXPECT_EQ(reader.Size(), 3001);
  }
  FHost->FailChange = true;  // a link's exception goes to the handler, not out of the destructor
  {
    TTarnBlobStream writer(*FHost, TBlobStreamMode::bmWrite);
    EXPECT_EQ(writer.Size(), 0);
  }
  EXPECT_EQ(FCursor->Opens, opens);
  EXPECT_EQ(FCursor->Find(MemoField)->Size(), 0u);
  EXPECT_EQ(FHost->Reported, 1);
}

TEST_F(BlobStreamTest, NoRecordBufferGivesAClosedStream) {
  FHost->HasRecord = false;
  TTarnBlobStream stream(*FHost, TBlobStreamMode::bmWrite);
  std::uint8_t buf[8];
  EXPECT_FALSE(stream.Opened());
  EXPECT_EQ(stream.Read(buf), 0);
  EXPECT_EQ(stream.Write(Bytes("ignored")), 0);
  EXPECT_EQ(stream.Size(), 0);
  EXPECT_EQ(FCursor->Opens, 0);
}

TEST_F(BlobStreamTest, AReadOpenOfAChangedRecordRefreshesOnce) {
  FCursor->OpenFailures = 1;
  {
    TTarnBlobStream stream(*FHost, TBlobStreamMode::bmRead);
    EXPECT_EQ(stream.Size(), 3000);
  }
  EXPECT_EQ(FHost->Refreshes, 1);

  FCursor->OpenFailures = 2;
  try {
    TTarnBlobStream stream(*FHost, TBlobStreamMode::bmRead);
    ADD_FAILURE() << "opened";
  } catch (const tarn::ETarnEngineError& e) {
    EXPECT_EQ(e.ErrorCode(), tarn::TARN_KEYORRECDELETED);
    EXPECT_EQ(e.ErrorField(), "Memo");
  }
  EXPECT_EQ(FHost->Refreshes, 2);

  FCursor->OpenFailures = 1;  // a write open does not retry
  EXPECT_THROW(TTarnBlobStream(*FHost, TBlobStreamMode::bmReadWrite), tarn::ETarnEngineError);
  EXPECT_EQ(FHost->Refreshes, 2);
}

TEST_F(BlobStreamTest, WritingAtANegativePositionIsRefusedNotAllocated) {
  TTarnBlobStream stream(*FHost, TBlobStreamMode::bmReadWrite);
  stream.Seek(-1, TSeekOrigin::soBeginning);
  std::uint8_t buf[4];
  EXPECT_EQ(stream.Read(buf), 0);
  for (const std::function<void()>& change :
       {std::function<void()>([&] { stream.Write(Bytes("x")); }),
        std::function<void()>([&] { stream.Truncate(); })}) {
    try {
      change();
      ADD_FAILURE() << "written";
    } catch (const tarn::ETarnEngineError& e) {
      EXPECT_EQ(e.ErrorCode(), tarn::TARN_INVALIDBLOBOFFSET);
    }
  }
  stream.Seek(0x7FFFFFF0, TSeekOrigin::soBeginning);
  EXPECT_THROW(stream.Write(Bytes(std::string(32, 'z'))),
               tarn::ETarnEngineError);  // would pass 2^31
  EXPECT_EQ(stream.Size(), 3000);
  EXPECT_FALSE(stream.Modified());
}

}  // namespace
}  // namespace dbcomp
