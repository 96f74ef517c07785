#pragma once
// The order in which a shared table writes its buffers, so that a writer
// killed part way can never damage the table silently.
//
// There is no log. Instead every write of the buffers (TDataTable::WriteBuffers
// outside a transaction, and the commit of a transaction) runs three phases,
// each over the files in the order data, index, blob:
//
//   phase  TDataTable function    what reaches the disk
//   1      BeginBufferWrite       each file with anything to write gets its
//                                 header written with ChangeCount + 1 and
//                                 WriteInProgress = 1 (data header byte 124,
//                                 index and blob header byte 4); then, when a
//                                 flush is wanted, each such file is flushed
//   2      WriteBufferContents    the modified records and field definitions,
//                                 the dirty index pages, the dirty blob blocks,
//                                 each file flushed after its part when a flush
//                                 is wanted; with clear the caches are trimmed
//   3      EndBufferWrite         each header written in phase 1 is written
//                                 again, the same ChangeCount, WriteInProgress
//                                 = 0; each file flushed when a flush is wanted
//
// A flush is wanted when the caller forces one or the session's
// ForceBufferFlush is on; the flushes between the phases keep the order on
// the device too (a power cut), not only in the operating system's cache (a
// killed process). The headers left by phase 3 are byte for byte those one
// unordered header write would leave.
//
// The caches may also write dirty entries to make room in the middle of an
// operation. Before such a write the file's owner hook (BeforeWritingRecords,
// BeforeWritingPages, BeforeWritingBlocks) runs phase 1 for that file alone,
// and the next WriteBuffers ends the write. Every record, page or block of a
// change therefore reaches the disk after a header of its own file carrying
// the mark.
//
// What a writer killed at each point leaves behind (the write lock dies with
// it):
//   before phase 1            nothing of the change; the table is sound and
//                             other programs keep their view, which is current
//   during phase 1            some headers carry the mark and a raised counter
//                             (data before index before blob); nothing else
//                             changed. Others notice the counter, drop their
//                             caches, and report the damage
//   during phase 2            all marks set; a prefix of the records, pages and
//                             blocks written: the files may disagree (a record
//                             without its key, a key without its record). The
//                             table reports the damage
//   during phase 3            the change is complete on disk, but the files
//                             whose mark is not yet cleared (index, or blob)
//                             still report the damage
//   after phase 3             the complete change; others see it through the
//                             raised counters
// Damage is reported with the corruption code of the first file in the order
// data, index, blob whose header carries a mark this program did not set:
// 8961 (data), 8965 (index), 8963 (blob). A program sees it when it takes the
// write lock (BeginWrite raises it and holds no lock afterwards), and
// whenever it opens the table or re-reads the headers (TDataTable::Damage).
// Reads go on; writes are refused until TDataTable::ClearInterruptedWrite
// removes the marks (the repair tool calls it before rebuilding anything).
//
// Marks are trusted only when read while no writer can be in the middle of a
// write: under a read, write or transaction lock, or when the table takes no
// locks (exclusive use, read-only files). Headers read at open without a lock
// are read again under a read lock when they show a mark.

#include <functional>

namespace tarn {

// The options of one write of the buffers (TDataTable::WriteBuffers).
struct TBufferWrite {
  bool Clear = false;             // trim the caches to their nominal sizes
  bool ForceDataHeader = false;   // write the header even when not dirty
  bool ForceFlush = false;        // flush the written files (besides the session setting)
  bool ForceBlobHeader = false;
  bool ForceIndexHeader = false;
};

// The points of an ordered write reported to the step hook, in order.
enum class TWriteStep {
  Started,            // nothing written yet
  DataHeaderMarked,   // phase 1, per file
  IndexHeaderMarked,
  BlobHeaderMarked,
  RecordsWritten,     // phase 2, per file (also when there was nothing to write)
  PagesWritten,
  BlobsWritten,
  DataMarkCleared,    // phase 3, per file
  IndexMarkCleared,
  BlobMarkCleared,
};

// Hooks for tests and benchmarks only. Process-wide, not synchronised: set
// them before any table is used and reset them afterwards.
namespace WriteOrderTesting {

// Called at each step of every ordered write (a test kills its process there).
void SetStepHook(std::function<void(TWriteStep)> hook);
// Runs the hook (nothing when none is set).
void ReportStep(TWriteStep step);
// On: WriteBuffers writes each file's records, pages or blocks before its
// header, without marks, and the caches write without marking (the baseline
// against which the cost of the order is measured). Unsafe: a writer killed
// part way then damages the table silently.
void SetUnorderedWrites(bool on);
bool UnorderedWrites();

}  // namespace WriteOrderTesting

}  // namespace tarn
