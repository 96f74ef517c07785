// tarn-torture: many processes on one table, and writers killed part way.
//
//   tarn-torture DIR [--processes N] [--ops M] [--seed S]
//                [--protocol pessimistic|optimistic] [--transactions]
//   tarn-torture DIR --kills K [--readers R] [--seed S] [--transactions]
//
// Table "Torture": Id int32 (primary), Owner int16, Value int32 (index
// ByValue), Note string 30 (full-text), Body memo. Records 1 to 4 are shared
// counters; every other record belongs to the worker that inserted it (Id =
// worker x 1,000,000 + n).
//
// Load run: N worker processes each do M random operations: inserts,
// modifications and deletes of their own records, increments of a random
// counter under the record-lock protocol, and reads (scans by ByValue, counts,
// seeks). With --transactions the operations run in groups of 1 to 5 inside a
// transaction, one group in five rolled back on purpose. Every worker appends
// what it committed to its log (one write per commit, so a group reaches the
// log whole). At the end the parent replays the logs: every record must be in
// the table exactly as the logs say, each counter must equal the increments
// logged (no lost update), and the deep table check must be clean.
//
// Kill run: K rounds, each with R reader processes and one writer; the writer
// logs each operation's intent before it and its completion after it, and is
// killed with SIGKILL after a random moment. The readers must go on reading
// after the kill. The table must then check clean, or show only the mark of
// an interrupted write (the writer died inside a write of the buffers), in
// which case it is repaired; afterwards every record the writer completed
// must be there as logged (the operation in flight may or may not be).
//
// Prints one summary line per run; exit 0 when every check passed.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/byte_order.h"
#include "engine/base/engine_error.h"
#include "engine/cursor/data_cursor.h"
#include "engine/cursor/table_check.h"
#include "engine/cursor/table_repair.h"
#include "engine/index/keys.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "engine/table/field_types.h"

namespace {

using namespace tarn;

constexpr const char* TableName = "Torture";
constexpr int Counters = 4;
constexpr std::int32_t OwnerSpan = 1000000;

struct TOptions {
  std::string Dir;
  int Processes = 4;
  int Ops = 500;
  std::uint32_t Seed = 1;
  TLockProtocol Protocol = TLockProtocol::Pessimistic;
  bool Transactions = false;
  int Kills = 0;
  int Readers = 2;
  // Set in child processes.
  int Worker = -1;
  bool Reader = false;
  bool Writer = false;
  int Round = 0;  // of a kill run's writer
};

// ---------------------------------------------------------------- table ----


void CreateTable(TDataDirectory& dir) {
  TTableDefinition def;
  def.Fields = {MakeFieldDesc(1, "Id", FieldType::Int32), MakeFieldDesc(2, "Owner", FieldType::Int16),
                MakeFieldDesc(3, "Value", FieldType::Int32), MakeFieldDesc(4, "Note", FieldType::String, 0, 30),
                MakeFieldDesc(5, "Body", FieldType::Blob, FieldSubType::Memo)};
  AssignFieldOffsets(def.Fields);
  def.Primary = SingleFieldIndex("", 1, def.Fields, true);
  def.Secondary = {SingleFieldIndex("ByValue", 3, def.Fields, false)};
  TIndexDescriptor text;
  text.FieldCount = 1;
  text.FieldNumbers[0] = 4;
  def.TextIndex = text;
  if (dir.TableExists(TableName, false)) dir.DeleteTable(TableName, false);
  dir.ReleaseTable(dir.CreateTable(TableName, false, false, def), false);
}

// The body of a record: its length and letter follow from its value, so a
// reader can tell a torn body from a whole one.
std::string BodyFor(std::int32_t value) {
  return std::string(static_cast<std::size_t>(value % 1500), static_cast<char>('a' + value % 26));
}

struct TRow {
  std::int32_t Id = 0;
  std::int16_t Owner = 0;
  std::int32_t Value = 0;
};

void PutInt(TDataCursor& c, int field, std::vector<std::uint8_t>& b, std::int64_t v, std::size_t size) {
  std::array<std::uint8_t, 4> bytes{};
  PutLE32(bytes, 0, static_cast<std::uint32_t>(v));
  c.PutField(field, b, std::span<const std::uint8_t>(bytes.data(), size));
}

std::int32_t GetInt(TDataCursor& c, int field, std::span<const std::uint8_t> b) {
  const TFieldRead r = c.GetField(field, b);
  if (r.Blank) return 0;
  return r.Bytes.size() == 2 ? static_cast<std::int16_t>(GetLE16(r.Bytes, 0)) : static_cast<std::int32_t>(GetLE32(r.Bytes, 0));
}

// Fills b with a whole record of row (body and note included).
void PutRow(TDataCursor& c, std::vector<std::uint8_t>& b, const TRow& row) {
  PutInt(c, 1, b, row.Id, 4);
  PutInt(c, 2, b, row.Owner, 2);
  PutInt(c, 3, b, row.Value, 4);
  const std::string note = "w" + std::to_string(row.Value % 97) + " owner" + std::to_string(row.Owner);
  c.PutField(4, b, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(note.data()), note.size()));
  const std::string body = BodyFor(row.Value);
  std::uint32_t size = 0;
  c.RaiseIfError(c.OpenBlob(5, b, TDataCursor::TBlobMode::Write, size));
  c.RaiseIfError(c.TruncateBlob(5, b, 0));
  if (!body.empty()) {
    c.RaiseIfError(c.WriteBlob(5, b, 0, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(body.data()), body.size())));
  }
  c.RaiseIfError(c.CloseBlob(5, b));
}

std::string ReadBody(TDataCursor& c, std::vector<std::uint8_t> b) {
  std::uint32_t size = 0;
  c.RaiseIfError(c.OpenBlob(5, b, TDataCursor::TBlobMode::Read, size));
  std::string body(size, '\0');
  std::uint32_t count = 0;
  const TErrorCode code =
      c.ReadBlob(5, b, 0, size, std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(body.data()), size), count);
  (void)c.CloseBlob(5, b);
  c.RaiseIfError(code);
  return body;
}

// Seeks id in the primary index (a read cut short may have left the cursor
// on another index or a range).
bool Seek(TDataCursor& c, std::vector<std::uint8_t>& b, std::int32_t id) {
  c.SwitchToIndex("");
  c.ResetRange();
  c.InitRecord(b);
  PutInt(c, 1, b, id, 4);
  if (!c.SetToKey(false, b, 1)) return false;
  return c.GetCurrentRecord(b) == TARN_NONE;
}

// --------------------------------------------------------------- worker ----

// Errors a worker meets as part of sharing: it tries again later.
bool Contended(TErrorCode code) {
  return code == TARN_RECLOCKFAILED || code == TARN_LOCKTIMEOUT || code == TARN_KEYORRECDELETED;
}

class TWorker {
 public:
  TWorker(const TOptions& options, TDataSession& session)
      : FOptions(options),
        FDir(session.OpenDirectory("T", options.Dir)),
        FCursor(FDir),
        FRandom(options.Seed * 7919u + static_cast<std::uint32_t>(options.Worker) * 104729u) {
    session.SetLockProtocol(options.Protocol);
    FCursor.SetTableName(TableName);
    FCursor.OpenCursor();
    FBuffer.resize(FCursor.RecordSize());
    const std::string log = options.Dir + "/log." + std::to_string(options.Worker);
    FLog = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  }
  ~TWorker() {
    if (FLog >= 0) ::close(FLog);
  }

  // Load run: Ops operations. Returns the number of contended retries.
  int RunLoad() {
    int done = 0;
    while (done < FOptions.Ops) {
      const int group = FOptions.Transactions ? 1 + Pick(5) : 1;
      const bool rollback = FOptions.Transactions && Pick(5) == 0;
      try {
        if (FOptions.Transactions) FDir.StartTransaction();
        for (int i = 0; i < group; ++i) Step();
        if (FOptions.Transactions) {
          if (rollback) {
            FDir.Rollback();
            Discard();
          } else {
            FDir.Commit(true, false);
            Flush();
          }
        } else {
          Flush();
        }
        done += group;
      } catch (const ETarnEngineError& e) {
        FCursor.FreeBlobs(true);
        if (FCursor.LockedRecNo() != 0 || FCursor.RecordChanged()) FCursor.UnlockCurrentRecord();
        if (FOptions.Transactions && FDir.InTransaction()) FDir.Rollback();
        Discard();
        if (!Contended(e.ErrorCode())) throw;
        ++FRetries;
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + Pick(10)));
      }
    }
    return FRetries;
  }

  // Kill run, writer: operations until killed, each announced in the log
  // before it starts ("T ...") and confirmed after ("I", "M" or "D").
  [[noreturn]] void RunWriter() {
    for (;;) {
      try {
        Step(true);
        Flush();
      } catch (const ETarnEngineError& e) {
        FCursor.FreeBlobs(true);
        if (FCursor.LockedRecNo() != 0 || FCursor.RecordChanged()) FCursor.UnlockCurrentRecord();
        Discard();
        if (!Contended(e.ErrorCode())) throw;
      }
    }
  }

  // Kill run, reader: reads until told to stop (SIGTERM sets the flag);
  // returns the number of reads that ended in an error.
  static volatile sig_atomic_t FStop;
  int RunReader() {
    int errors = 0;
    while (FStop == 0) {
      try {
        Read();
        ++FReads;
      } catch (const ETarnEngineError&) {
        ++errors;
      }
    }
    std::printf("%d %d\n", FReads, errors);
    return errors;
  }

 private:
  int Pick(int n) { return static_cast<int>(FRandom() % static_cast<std::uint32_t>(n)); }

  void Step(bool announce = false) {
    const int op = Pick(100);
    if (op < 30 || FOwn.empty()) {
      Insert(announce);
    } else if (op < 50) {
      Modify(announce);
    } else if (op < 60) {
      Delete(announce);
    } else if (op < 80 && !announce) {
      Increment();
    } else {
      Read();
    }
  }

  void Insert(bool announce) {
    const TRow row{FIdBase + ++FNext, static_cast<std::int16_t>(FOptions.Worker), Pick(1000000)};
    if (announce) Announce("T I " + std::to_string(row.Id));
    FCursor.InitRecord(FBuffer);
    PutRow(FCursor, FBuffer, row);
    FCursor.InsertRecord(FBuffer, false);
    FOwnPending[row.Id] = row.Value;
    Log("I " + std::to_string(row.Id) + " " + std::to_string(row.Value));
  }

  std::int32_t SomeOwn() {
    auto it = FOwn.begin();
    std::advance(it, Pick(static_cast<int>(FOwn.size())));
    return it->first;
  }

  void Modify(bool announce) {
    const std::int32_t id = SomeOwn();
    const std::int32_t value = Pick(1000000);
    if (announce) Announce("T M " + std::to_string(id));
    if (!Seek(FCursor, FBuffer, id)) return;
    FCursor.RaiseIfError(FCursor.GetCurrentRecord(FBuffer, true));
    PutRow(FCursor, FBuffer, {id, static_cast<std::int16_t>(FOptions.Worker), value});
    FCursor.ModifyRecord(FBuffer, true, false);
    FOwnPending[id] = value;
    Log("M " + std::to_string(id) + " " + std::to_string(value));
  }

  void Delete(bool announce) {
    const std::int32_t id = SomeOwn();
    if (announce) Announce("T D " + std::to_string(id));
    if (!Seek(FCursor, FBuffer, id)) return;
    FCursor.RaiseIfError(FCursor.GetCurrentRecord(FBuffer, true));
    FCursor.DeleteRecord(FBuffer, false);
    FOwnPending[id] = std::nullopt;
    Log("D " + std::to_string(id));
  }

  // counter + 1 under the lock protocol; 8708 (changed since read) and
  // 10258 (locked elsewhere) make the caller try again.
  void Increment() {
    const std::int32_t id = 1 + Pick(Counters);
    if (!Seek(FCursor, FBuffer, id)) throw std::runtime_error("counter missing");
    FCursor.RaiseIfError(FCursor.GetCurrentRecord(FBuffer, true));
    PutInt(FCursor, 3, FBuffer, GetInt(FCursor, 3, FBuffer) + 1, 4);
    FCursor.ModifyRecord(FBuffer, true, false);
    Log("C " + std::to_string(id));
  }

  // A scan of a ByValue range, a count and a seek; every body read must be
  // whole.
  void Read() {
    FCursor.SwitchToIndex("ByValue");
    const std::int32_t low = Pick(1000000);
    std::vector<std::uint8_t> lowKey(FCursor.RecordSize());
    std::vector<std::uint8_t> highKey(FCursor.RecordSize());
    FCursor.InitRecord(lowKey);
    FCursor.InitRecord(highKey);
    PutInt(FCursor, 3, lowKey, low, 4);
    PutInt(FCursor, 3, highKey, low + 20000, 4);
    FCursor.SetRange(lowKey, 1, highKey, 1, false);
    FCursor.SetToBegin();
    int n = 0;
    while (n < 20 && FCursor.GetNextRecord(FBuffer) == TARN_NONE) {
      const std::int32_t id = GetInt(FCursor, 1, FBuffer);
      const std::int32_t value = GetInt(FCursor, 3, FBuffer);
      if (id > Counters && ReadBody(FCursor, FBuffer) != BodyFor(value)) {
        throw std::runtime_error("torn body in record " + std::to_string(id));
      }
      ++n;
    }
    FCursor.ResetRange();
    (void)FCursor.GetRecordCount();
    FCursor.SwitchToIndex("");
  }

  void Announce(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(FLog, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
  }
  void Log(const std::string& line) { FPending += line + "\n"; }
  // The operations since the last flush reached the table for good.
  void Flush() {
    if (!FPending.empty() && ::write(FLog, FPending.data(), FPending.size()) != static_cast<ssize_t>(FPending.size())) {
      std::abort();
    }
    FPending.clear();
    for (const auto& [id, value] : FOwnPending) {
      if (value) FOwn[id] = *value;
      else FOwn.erase(id);
    }
    FOwnPending.clear();
  }
  void Discard() {
    FPending.clear();
    FOwnPending.clear();
  }

  const TOptions& FOptions;
  TDataDirectory& FDir;
  TDataCursor FCursor;
  std::mt19937 FRandom;
  std::vector<std::uint8_t> FBuffer;
  int FLog = -1;
  std::string FPending;
  std::map<std::int32_t, std::int32_t> FOwn;
  std::map<std::int32_t, std::optional<std::int32_t>> FOwnPending;
  // Ids of this process: base + 1, + 2, ...; a kill run's writers each take
  // a base of their own, above the workers'.
  std::int32_t FIdBase = (FOptions.Writer ? 60 + FOptions.Round : FOptions.Worker) * OwnerSpan;
  std::int32_t FNext = 0;
  int FRetries = 0;
  int FReads = 0;
};

volatile sig_atomic_t TWorker::FStop = 0;

// --------------------------------------------------------------- parent ----

struct TModel {
  std::map<std::int32_t, std::int32_t> Records;  // own records: Id -> Value
  std::array<std::int64_t, Counters + 1> Increments{};
  // Ids the killed writer may have been changing (intent without completion).
  std::map<std::int32_t, char> InFlight;
};

// Replays the logs of workers 0..n-1 (and the writer's of a kill run).
void ReplayLog(const std::string& path, TModel& model) {
  std::ifstream in(path);
  std::string line;
  std::optional<std::pair<char, std::int32_t>> intent;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    char kind = 0;
    s >> kind;
    if (kind == 'T') {
      char op = 0;
      std::int32_t id = 0;
      s >> op >> id;
      intent = std::pair{op, id};
      continue;
    }
    std::int32_t id = 0;
    std::int32_t value = 0;
    s >> id >> value;
    if (kind == 'I' || kind == 'M') model.Records[id] = value;
    if (kind == 'D') model.Records.erase(id);
    if (kind == 'C') ++model.Increments[static_cast<std::size_t>(id)];
    intent.reset();
  }
  if (intent) model.InFlight[intent->second] = intent->first;
}

// Compares the table with the model; prints each difference. True when equal.
bool CompareTable(TDataDirectory& dir, const TModel& model, std::int64_t counterBase) {
  TDataCursor c(dir);
  c.SetTableName(TableName);
  c.SetReadOnly(true);
  c.OpenCursor();
  std::vector<std::uint8_t> b(c.RecordSize());
  std::map<std::int32_t, std::int32_t> seen;
  bool ok = true;
  c.SetToBegin();
  while (c.GetNextRecord(b) == TARN_NONE) {
    const std::int32_t id = GetInt(c, 1, b);
    const std::int32_t value = GetInt(c, 3, b);
    if (id <= Counters) {
      const std::int64_t expected = counterBase + model.Increments[static_cast<std::size_t>(id)];
      if (value != expected) {
        std::printf("counter %d is %d, the logs say %lld\n", id, value, static_cast<long long>(expected));
        ok = false;
      }
      continue;
    }
    seen[id] = value;
    // The record a killed writer was changing may have lost its body.
    if (model.InFlight.count(id) == 0 && ReadBody(c, b) != BodyFor(value)) {
      std::printf("record %d has a torn body\n", id);
      ok = false;
    }
  }
  for (const auto& [id, value] : model.Records) {
    if (model.InFlight.count(id) != 0) continue;
    const auto it = seen.find(id);
    if (it == seen.end()) {
      std::printf("record %d is missing\n", id);
      ok = false;
    } else if (it->second != value) {
      std::printf("record %d has value %d, the logs say %d\n", id, it->second, value);
      ok = false;
    }
  }
  for (const auto& [id, value] : seen) {
    if (model.Records.count(id) == 0 && model.InFlight.count(id) == 0) {
      std::printf("record %d is not in the logs\n", id);
      ok = false;
    }
  }
  return ok;
}

TTableCheckResult CheckTableOf(TDataDirectory& dir) {
  TDataCursor c(dir);
  c.SetTableName(TableName);
  c.SetReadOnly(true);
  c.OpenCursor();
  return CheckTable(c);
}

// A write of the buffers cut short may leave anything half-written behind
// its marks; without a mark the table must be sound.
bool Marked(const TTableCheckResult& r) {
  for (const TTableProblem& p : r.Problems) {
    if (p.Text.find("interrupted write") != std::string::npos) return true;
  }
  return false;
}

void PrintProblems(const TTableCheckResult& r) {
  for (const TTableProblem& p : r.Problems) {
    std::printf("  %s offset %lld record %d: %s\n", TableFilePartName(p.File), static_cast<long long>(p.Offset),
                p.RecordNo, p.Text.c_str());
  }
}

pid_t Spawn(const char* self, const TOptions& o, const std::vector<std::string>& role) {
  std::vector<std::string> args = {self, o.Dir, "--seed", std::to_string(o.Seed), "--ops", std::to_string(o.Ops),
                                   "--protocol", o.Protocol == TLockProtocol::Optimistic ? "optimistic" : "pessimistic"};
  if (o.Transactions) args.push_back("--transactions");
  args.insert(args.end(), role.begin(), role.end());
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execv(self, argv.data());
    _exit(127);
  }
  return pid;
}

int WaitExit(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

void SetUpTable(const TOptions& o) {
  TDataSession session;
  TDataDirectory& dir = session.OpenDirectory("T", o.Dir);
  CreateTable(dir);
  TDataCursor c(dir);
  c.SetTableName(TableName);
  c.OpenCursor();
  std::vector<std::uint8_t> b(c.RecordSize());
  for (std::int32_t id = 1; id <= Counters; ++id) {
    c.InitRecord(b);
    PutRow(c, b, {id, 0, 0});
    c.InsertRecord(b, false);
  }
  for (int k = 0; k < 64; ++k) std::remove((o.Dir + "/log." + std::to_string(k)).c_str());
}

int LoadRun(const char* self, const TOptions& o) {
  SetUpTable(o);
  const auto start = std::chrono::steady_clock::now();
  std::vector<pid_t> pids;
  for (int k = 0; k < o.Processes; ++k) pids.push_back(Spawn(self, o, {"--worker", std::to_string(k + 1)}));
  bool ok = true;
  for (pid_t pid : pids) {
    const int code = WaitExit(pid);
    if (code != 0) {
      std::printf("worker %d exited with %d\n", static_cast<int>(pid), code);
      ok = false;
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  TModel model;
  for (int k = 1; k <= o.Processes; ++k) ReplayLog(o.Dir + "/log." + std::to_string(k), model);
  TDataSession session;
  TDataDirectory& dir = session.OpenDirectory("T", o.Dir);
  ok = CompareTable(dir, model, 0) && ok;
  const TTableCheckResult check = CheckTableOf(dir);
  if (!check.Clean()) {
    std::printf("the table check found problems:\n");
    PrintProblems(check);
    ok = false;
  }
  std::int64_t increments = 0;
  for (std::int64_t n : model.Increments) increments += n;
  std::printf("load run: %d processes x %d operations (%s%s): %zu records, %lld increments, %.2f s, %.0f ops/s: %s\n",
              o.Processes, o.Ops, o.Protocol == TLockProtocol::Optimistic ? "optimistic" : "pessimistic",
              o.Transactions ? ", transactions" : "", model.Records.size(), static_cast<long long>(increments), seconds,
              o.Processes * o.Ops / seconds, ok ? "OK" : "FAILED");
  return ok ? 0 : 1;
}

int KillRun(const char* self, TOptions o) {
  SetUpTable(o);
  std::mt19937 random(o.Seed);
  int damaged = 0;
  int repaired = 0;
  long readsAfterKill = 0;
  bool ok = true;
  const std::string writerLog = o.Dir + "/log.0";
  for (int round = 0; round < o.Kills && ok; ++round) {
    std::vector<pid_t> readers;
    std::vector<int> readerOut;
    for (int r = 0; r < o.Readers; ++r) {
      int fds[2];
      if (pipe(fds) != 0) return 2;
      const pid_t pid = fork();
      if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        std::string dir = o.Dir, seed = std::to_string(o.Seed + static_cast<std::uint32_t>(round)), worker = std::to_string(100 + r);
        std::vector<char*> argv = {const_cast<char*>(self), dir.data(), const_cast<char*>("--seed"), seed.data(),
                                   const_cast<char*>("--reader"), worker.data(), nullptr};
        execv(self, argv.data());
        _exit(127);
      }
      close(fds[1]);
      readers.push_back(pid);
      readerOut.push_back(fds[0]);
    }
    for (int fd : readerOut) {
      char c = 0;
      while (read(fd, &c, 1) == 1 && c != '\n') {
      }
    }
    o.Seed += 1;
    const pid_t writer = Spawn(self, o, {"--writer", std::to_string(round)});
    std::this_thread::sleep_for(std::chrono::milliseconds(20 + random() % 300));
    kill(writer, SIGKILL);
    WaitExit(writer);
    // The readers go on after the kill: give them a moment, then stop them.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    for (pid_t pid : readers) kill(pid, SIGTERM);
    for (std::size_t r = 0; r < readers.size(); ++r) {
      const int code = WaitExit(readers[r]);
      char text[64] = {};
      const ssize_t n = read(readerOut[r], text, sizeof text - 1);
      close(readerOut[r]);
      long reads = 0;
      long errors = 0;
      if (n > 0) std::sscanf(text, "%ld %ld", &reads, &errors);
      readsAfterKill += reads;
      if (code > 1 || n <= 0) {
        std::printf("round %d: a reader ended with %d\n", round, code);
        ok = false;
      }
    }

    TDataSession session;
    TDataDirectory& dir = session.OpenDirectory("T", o.Dir);
    TTableCheckResult check = CheckTableOf(dir);
    if (!check.Clean()) {
      ++damaged;
      if (!Marked(check)) {
        std::printf("round %d: damage without the mark of an interrupted write:\n", round);
        PrintProblems(check);
        ok = false;
      }
      RepairTable(dir, TableName);
      ++repaired;
      check = CheckTableOf(dir);
      if (!check.Clean()) {
        std::printf("round %d: the repaired table is not clean:\n", round);
        PrintProblems(check);
        ok = false;
      }
    }
    TModel model;
    ReplayLog(writerLog, model);
    if (!CompareTable(dir, model, 0)) {
      std::printf("round %d: the table lost what the writer had completed\n", round);
      ok = false;
    }
    // The next writer starts from what the table holds now: rewrite the log.
    // A record the killed writer was changing that lost its body in the
    // repair goes; the next readers would take it for a torn one.
    std::ofstream log(writerLog, std::ios::trunc);
    TDataCursor c(dir);
    c.SetTableName(TableName);
    c.OpenCursor();
    std::vector<std::uint8_t> b(c.RecordSize());
    c.SetToBegin();
    while (c.GetNextRecord(b) == TARN_NONE) {
      const std::int32_t id = GetInt(c, 1, b);
      if (id <= Counters) continue;
      if (model.InFlight.count(id) != 0 && ReadBody(c, b) != BodyFor(GetInt(c, 3, b))) {
        c.DeleteRecord(b, false);
        continue;
      }
      log << "I " << id << " " << GetInt(c, 3, b) << "\n";
    }
  }
  std::printf("kill run: %d kills, %d left an interrupted write, %d repairs, %ld reads by readers: %s\n",
              o.Kills, damaged, repaired, readsAfterKill, ok ? "OK" : "FAILED");
  return ok ? 0 : 1;
}

int Usage() {
  std::fprintf(stderr,
               "usage: tarn-torture DIR [--processes N] [--ops M] [--seed S] [--protocol pessimistic|optimistic]\n"
               "                    [--transactions] [--kills K] [--readers R]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Line by line, so that children forked later inherit no unwritten output.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc < 2) return Usage();
  TOptions o;
  o.Dir = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    const auto value = [&]() -> std::string {
      if (i + 1 >= argc) std::exit(Usage());
      return argv[++i];
    };
    if (a == "--processes") o.Processes = std::stoi(value());
    else if (a == "--ops") o.Ops = std::stoi(value());
    else if (a == "--seed") o.Seed = static_cast<std::uint32_t>(std::stoul(value()));
    else if (a == "--protocol") o.Protocol = value() == "optimistic" ? TLockProtocol::Optimistic : TLockProtocol::Pessimistic;
    else if (a == "--transactions") o.Transactions = true;
    else if (a == "--kills") o.Kills = std::stoi(value());
    else if (a == "--readers") o.Readers = std::stoi(value());
    else if (a == "--worker") o.Worker = std::stoi(value());
    else if (a == "--reader") { o.Reader = true; o.Worker = std::stoi(value()); }
    else if (a == "--writer") { o.Writer = true; o.Worker = 0; o.Round = std::stoi(value()); }
    else return Usage();
  }
  if (o.Processes < 1 || o.Processes > 50 || o.Ops < 0 || o.Kills < 0 || o.Kills > 1000) return Usage();
  if (o.Reader) signal(SIGTERM, [](int) { TWorker::FStop = 1; });
  try {
    if (o.Worker >= 0) {
      TDataSession session;
      TWorker worker(o, session);
      if (o.Reader) {
        // The parent starts the writer only once every reader said it is
        // ready, so its SIGTERM never meets a reader without the handler.
        std::printf("ready\n");
        worker.RunReader();
        return 0;
      }
      if (o.Writer) worker.RunWriter();
      worker.RunLoad();
      return 0;
    }
    return o.Kills > 0 ? KillRun(argv[0], o) : LoadRun(argv[0], o);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tarn-torture (worker %d): %s\n", o.Worker, e.what());
    return 3;
  }
}
