#pragma once
// The byte ranges through which programs (and sessions of one program) share
// a table's files.
//
// All ranges lie past the end of any real table file, just below 4 GB. A
// lock is an exclusive, non-blocking byte-range lock of the file layer
// (TFileHandler::LockRegion); nothing is ever written there.
//
//   file            lock                           first byte            length
//   data  (.DAT)    record lock of record R         4,294,967,294 - R          1
//                   (R = 1..200,000,000)
//   data            transaction lock                4,294,967,295              1
//   index (.IDX)    read lock with slot s           4,294,967,295 - s          1
//   and blob (.BLB) (s = 1..65535)
//   index and blob  write lock                      4,294,901,759         65,536
//
// Invariants:
//   (1) the write lock of a file (4,294,901,759 .. 4,294,967,294) covers
//       every read-lock byte of it (slot 65535 at 4,294,901,760 .. slot 1 at
//       4,294,967,294), so a writer
//       excludes all readers and each reader excludes a writer, while readers
//       on different slots coexist;
//   (2) record-lock bytes (4,094,967,294 .. 4,294,967,293) never meet the
//       transaction byte;
//   (3) the transaction byte of the data file is also the first lock of every
//       write (BeginWrite), so a program inside a transaction keeps every other
//       program from writing the table.
//
// Local Linux: the file layer's flock sharing modes (exclusive opens) and
// these range locks are independent of each other. Over NFS and SMB both
// become byte-range locks of the server.

#include <cstdint>

namespace tarn {

namespace LockRange {

inline constexpr std::int64_t TransactionByte = 4294967295;
inline constexpr std::int64_t RecordBase = 4294967294;  // record R at RecordBase - R
inline constexpr std::int64_t ReadSlotBase = 4294967295;  // slot s at ReadSlotBase - s
inline constexpr std::int64_t WriteFirst = 4294901759;
inline constexpr std::int64_t WriteLength = 65536;

inline constexpr std::int64_t MaxRecord = 200000000;
inline constexpr std::uint16_t MaxReadSlot = 65535;

constexpr std::int64_t RecordOffset(std::int64_t recordNo) { return RecordBase - recordNo; }
constexpr std::int64_t ReadSlotOffset(std::uint16_t slot) { return ReadSlotBase - slot; }

static_assert(WriteFirst < ReadSlotOffset(MaxReadSlot), "the write lock covers the last read slot");
static_assert(WriteFirst + WriteLength - 1 == ReadSlotOffset(1), "the write lock ends at read slot 1");
static_assert(RecordOffset(1) < TransactionByte && RecordOffset(MaxRecord) > 4094967293);

}  // namespace LockRange

// How often, and how far apart, the table-level locks are tried before they
// fail with 10249: the transaction byte, the write locks and the read locks
// (each read attempt with a new random slot).
struct TTableLockRetry {
  std::int32_t Attempts = 32767;
  std::int32_t PauseMs = 3;
};

}  // namespace tarn
