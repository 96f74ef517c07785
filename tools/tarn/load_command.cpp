// tarn load: adds the records of a JSON-lines or CSV file (the forms dump
// writes) to a table, all or nothing.
//
// The file is read twice. The first pass converts and checks every record
// (values against their fields, the required, minimum and maximum checks)
// without writing; any problem is reported with its line and column and,
// unless --skip-bad is given, nothing is loaded. The second pass inserts the
// records inside one transaction; an insert the table refuses (a duplicate
// key) rolls the whole load back, or with --skip-bad is reported and skipped.
// Fields a record does not name get their defaults; auto-increment values
// given in the file are kept.

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <fstream>
#include <iostream>
#include <map>
#include <set>

#include "engine/base/engine_error.h"
#include "engine/session/data_directory.h"
#include "tools/tarn/commands.h"
#include "tools/tarn/csv_text.h"
#include "tools/tarn/record_io.h"
#include "tools/tarn/table_schema.h"
#include "tools/tarn/tool_context.h"
#include "tools/tarn/value_text.h"

namespace tarn_tool {

using namespace tarn;
using nlohmann::json;

namespace {

// One value of an input record: the field, its text (nothing: NULL) and the
// column it starts at.
struct TInputValue {
  int FieldNo = 0;
  std::optional<std::string> Text;
  int Column = 1;
};

struct TInputRecord {
  int Line = 0;
  std::vector<TInputValue> Values;
};

struct TInputError {
  int Line = 0;
  int Column = 0;
  std::string Text;
};

std::string Where(const TInputError& e) {
  return "line " + std::to_string(e.Line) + ", column " + std::to_string(e.Column) + ": " + e.Text;
}

// The records of an input file, one at a time.
class TRecordSource {
 public:
  virtual ~TRecordSource() = default;
  // Reads the header: the table's definition (JSON) or the field names (CSV).
  virtual void Start(TDataCursor& cursor) = 0;
  // The next record, or false at the end. A record that cannot be read sets
  // error (and its line) and returns true with no values.
  virtual bool Next(TInputRecord& record, std::optional<TInputError>& error) = 0;
};

int FieldNumber(const TDataCursor& c, const std::string& name) {
  for (int n = 1; n <= c.FieldCount(); ++n) {
    if (c.Field(n).FieldName() == name && !c.Field(n).FieldComputed()) return n;
  }
  return 0;
}

class TJsonSource : public TRecordSource {
 public:
  explicit TJsonSource(std::istream& in) : FIn(in) {}

  // The schema line of a dump, for --create; the first line of the file.
  static json ReadSchema(std::istream& in) {
    std::string line;
    if (!std::getline(in, line)) throw TUsageError{"the file is empty"};
    try {
      return json::parse(line);
    } catch (const json::parse_error& e) {
      throw TUsageError{"line 1, column " + std::to_string(e.byte) + ": " + e.what()};
    }
  }

  void Start(TDataCursor& cursor) override {
    FCursor = &cursor;
    // The first line is the definition the dump wrote; a file without one
    // starts with a record.
    std::getline(FIn, FPending);
    FLine = 1;
    try {
      const json first = json::parse(FPending);
      if (first.is_object() && first.value("format", "") == "tarn-dump") FPending.clear();
    } catch (const json::parse_error&) {
    }
    FHavePending = !FPending.empty();
  }

  bool Next(TInputRecord& record, std::optional<TInputError>& error) override {
    std::string line;
    if (FHavePending) {
      line = std::move(FPending);
      FHavePending = false;
    } else {
      do {
        if (!std::getline(FIn, line)) return false;
        ++FLine;
      } while (line.find_first_not_of(" \t\r") == std::string::npos);
    }
    record.Line = FLine;
    record.Values.clear();
    json object;
    try {
      object = json::parse(line);
    } catch (const json::parse_error& e) {
      error = TInputError{FLine, static_cast<int>(e.byte), "not JSON: " + std::string(e.what())};
      return true;
    }
    if (!object.is_object()) {
      error = TInputError{FLine, 1, "a record must be a JSON object"};
      return true;
    }
    for (const auto& [key, value] : object.items()) {
      const int column = static_cast<int>(line.find("\"" + key + "\"")) + 1;
      const std::optional<std::string> name = Utf8ToBytes(key);
      const int fieldNo = name ? FieldNumber(*FCursor, *name) : 0;
      if (fieldNo == 0) {
        error = TInputError{FLine, column, "no field \"" + key + "\" in the table"};
        return true;
      }
      TInputValue v{fieldNo, std::nullopt, column};
      if (value.is_string()) {
        v.Text = Utf8ToBytes(value.get<std::string>());
        if (!v.Text) {
          error = TInputError{FLine, column, "field \"" + key + "\": a character outside the table's 8-bit text"};
          return true;
        }
      } else if (value.is_boolean()) {
        v.Text = value.get<bool>() ? "true" : "false";
      } else if (value.is_number()) {
        v.Text = value.dump();
      } else if (!value.is_null()) {
        error = TInputError{FLine, column, "field \"" + key + "\": an array or object is no field value"};
        return true;
      }
      record.Values.push_back(std::move(v));
    }
    return true;
  }

 private:
  std::istream& FIn;
  TDataCursor* FCursor = nullptr;
  std::string FPending;
  bool FHavePending = false;
  int FLine = 0;
};

class TCsvSource : public TRecordSource {
 public:
  explicit TCsvSource(std::istream& in) : FReader(in) {}

  void Start(TDataCursor& cursor) override {
    std::vector<TCsvField> header;
    if (!FReader.Next(header)) {
      if (!FReader.Error().empty()) {
        throw TUsageError{Where({FReader.ErrorLine(), FReader.ErrorColumn(), FReader.Error()})};
      }
      throw TUsageError{"the file is empty"};
    }
    for (std::size_t i = 0; i < header.size(); ++i) {
      const int n = header[i] ? FieldNumber(cursor, *header[i]) : 0;
      if (n == 0) {
        throw TUsageError{Where({1, FReader.FieldColumn(i), "no field \"" + header[i].value_or("") + "\" in the table"})};
      }
      FFields.push_back(n);
    }
  }

  bool Next(TInputRecord& record, std::optional<TInputError>& error) override {
    std::vector<TCsvField> row;
    record.Values.clear();
    if (!FReader.Next(row)) {
      if (FReader.Error().empty()) return false;
      error = TInputError{FReader.ErrorLine(), FReader.ErrorColumn(), FReader.Error()};
      return false;  // the rest of the file cannot be trusted
    }
    record.Line = FReader.RecordLine();
    if (row.size() != FFields.size()) {
      error = TInputError{record.Line, 1,
                          std::to_string(row.size()) + " fields where the header names " + std::to_string(FFields.size())};
      return true;
    }
    for (std::size_t i = 0; i < row.size(); ++i) {
      record.Values.push_back({FFields[i], std::move(row[i]), FReader.FieldColumn(i)});
    }
    return true;
  }

 private:
  TCsvReader FReader;
  std::vector<int> FFields;
};

// Fills buffer from an input record; the first problem as an error.
std::optional<TInputError> Fill(TDataCursor& c, const TInputRecord& record, std::vector<std::uint8_t>& buffer) {
  c.InitRecord(buffer);
  for (const TInputValue& v : record.Values) {
    const std::string why = WriteFieldText(c, v.FieldNo, buffer, v.Text);
    if (!why.empty()) return TInputError{record.Line, v.Column, "field \"" + c.Field(v.FieldNo).FieldName() + "\": " + why};
  }
  try {
    c.CheckConstraints(buffer);
  } catch (const ETarnEngineError& e) {
    return TInputError{record.Line, 1, e.what()};
  }
  return std::nullopt;
}

std::unique_ptr<TRecordSource> MakeSource(const std::string& format, std::istream& in) {
  if (format == "csv") return std::make_unique<TCsvSource>(in);
  return std::make_unique<TJsonSource>(in);
}

// Keeps a load all or nothing: rolls back unless committed.
class TLoadTransaction {
 public:
  explicit TLoadTransaction(TDataDirectory& directory) : FDirectory(directory) { FDirectory.StartTransaction(); }
  ~TLoadTransaction() {
    if (!FDone) FDirectory.Rollback();
  }
  TLoadTransaction(const TLoadTransaction&) = delete;
  TLoadTransaction& operator=(const TLoadTransaction&) = delete;
  void Commit() {
    FDirectory.Commit(true, false);
    FDone = true;
  }

 private:
  TDataDirectory& FDirectory;
  bool FDone = false;
};

}  // namespace

void TLoadCommand::Register(CLI::App& app, TCommonOptions& common) {
  app.add_option("DIR", Dir, "Directory of the table")->required();
  app.add_option("TABLE", Table, "Table to load into")->required();
  app.add_option("FILE", File, "Input file")->required();
  app.add_option("--format", Format, "Input format (default: csv for a .csv file, json otherwise)")
      ->check(CLI::IsMember({"csv", "json"}));
  app.add_flag("--create", Create, "Create the table from the definition on the first line of a JSON dump");
  app.add_flag("--skip-bad", SkipBad, "Load the good records and report the bad ones");
  app.add_option("--password", common.Password, "Password of an encrypted table");
}

int TLoadCommand::Run(const TCommonOptions& common) const {
  std::string format = Format;
  if (format.empty()) format = File.size() > 4 && File.substr(File.size() - 4) == ".csv" ? "csv" : "json";
  std::ifstream in(File, std::ios::binary);
  if (!in) throw TUsageError{"cannot read " + File};
  TToolContext context(Dir, common.Password);

  if (Create) {
    if (format != "json") throw TUsageError{"--create needs a JSON dump: its first line holds the table's definition"};
    if (context.Directory().TableExists(Table, false)) {
      PrintError("table \"" + Table + "\" already exists");
      return ExitFailure;
    }
    const TTableDefinition def = DefinitionFromSchema(TJsonSource::ReadSchema(in), common.Password.value_or(""));
    context.Directory().ReleaseTable(context.Directory().CreateTable(Table, false, false, def), false);
    in.seekg(0);
  }

  auto cursor = context.OpenTable(Table, false);
  TDataCursor& c = *cursor;
  c.SetKeepAutoInc(true);
  std::vector<std::uint8_t> buffer(c.RecordSize());

  // Pass 1: convert and check everything.
  std::vector<TInputError> errors;
  std::set<int> badLines;
  std::int64_t records = 0;
  {
    auto source = MakeSource(format, in);
    source->Start(c);
    TInputRecord record;
    std::optional<TInputError> error;
    for (;;) {
      error.reset();
      const bool more = source->Next(record, error);
      if (!error && more) error = Fill(c, record, buffer);
      c.FreeBlobs(true);
      if (error) {
        errors.push_back(*error);
        badLines.insert(error->Line);
      } else if (more) {
        ++records;
      }
      if (!more) break;
    }
  }
  for (const TInputError& e : errors) std::cerr << File << ": " << Where(e) << "\n";
  if (!errors.empty() && !SkipBad) {
    PrintError(std::to_string(errors.size()) + " bad records; nothing loaded");
    return ExitFailure;
  }

  // Pass 2: insert inside one transaction.
  in.clear();
  in.seekg(0);
  auto source = MakeSource(format, in);
  source->Start(c);
  std::int64_t loaded = 0;
  std::int64_t refused = 0;
  TProgressBar bar("load " + Table);
  {
    TLoadTransaction transaction(context.Directory());
    TInputRecord record;
    std::optional<TInputError> error;
    while (source->Next(record, error)) {
      if (error || badLines.count(record.Line) != 0) {
        error.reset();
        continue;
      }
      try {
        if (Fill(c, record, buffer)) continue;
        c.InsertRecord(buffer, false);
        ++loaded;
      } catch (const ETarnEngineError& e) {
        c.FreeBlobs(true);
        std::cerr << File << ": line " << record.Line << ": " << e.what() << "\n";
        if (!SkipBad) {
          PrintError("nothing loaded");
          return ExitFailure;
        }
        ++refused;
      }
      if (records > 0) bar.Update(static_cast<double>(loaded + refused) / static_cast<double>(records));
    }
    transaction.Commit();
  }
  bar.Done();
  std::cout << Table << ": " << loaded << " records loaded";
  if (!errors.empty() || refused != 0) std::cout << ", " << errors.size() + refused << " skipped";
  std::cout << "\n";
  return ExitOk;
}

}  // namespace tarn_tool
