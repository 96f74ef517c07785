// tarn dump and tarn load as programs: every field type through JSON and CSV
// and back, and bad input reported by line and column with nothing loaded.

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/base/byte_order.h"
#include "engine/base/date_time.h"
#include "engine/cursor/data_cursor.h"
#include "engine/session/data_directory.h"
#include "engine/session/data_session.h"
#include "run_tarn.h"
#include "support/temp_dir.h"

namespace {

using namespace tarn;
using namespace tool_testing;


void Write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// A definition with one field of every type the component layer makes, an
// auto-increment primary key, a unique secondary index and a full-text index.
const char* const Schema =
    R"({"format":"tarn-dump","version":1,"table":"All","description":"every type","blockSize":128,)"
    R"("fields":[)"
    R"({"name":"Id","type":6,"subtype":29},)"
    R"({"name":"Name","type":1,"size":24,"required":true},)"
    R"({"name":"Born","type":2},{"name":"Flag","type":4},{"name":"Small","type":5},)"
    R"({"name":"Big","type":18},{"name":"Word","type":12},{"name":"Ratio","type":7},)"
    R"({"name":"Price","type":7,"subtype":21},{"name":"Amount","type":8,"scale":2},)"
    R"({"name":"Raw","type":9,"size":4},{"name":"Var","type":15,"size":10},)"
    R"({"name":"At","type":10},{"name":"When","type":11},)"
    R"({"name":"Notes","type":3,"subtype":22},{"name":"Picture","type":3,"subtype":26}],)"
    R"("primary":{"fields":["Id"]},)"
    R"("indexes":[{"name":"ByName","fields":["Name"],"unique":true,"caseInsensitive":true}],)"
    R"("textIndex":{"fields":["Name","Notes"]}})";

const char* const Records =
    R"({"Id":7,"Name":"Ada, \"the\" first","Born":"1815-12-10","Flag":true,"Small":-32768,"Big":-9007199254740993,)"
    R"("Word":65535,"Ratio":0.1,"Price":12.5,"Amount":"-1234.56","Raw":"AQIDBA==","Var":"AAD/","At":"12:34:56.789",)"
    R"("When":"2001-02-03T04:05:06.007","Notes":"bGluZSAxCmxpbmUgMg==","Picture":"iVBORw0KGgo="})" "\n"
    R"({"Id":9,"Name":"caf\u00e9","Born":null,"Flag":false,"Small":null,"Big":1,"Word":0,"Ratio":-1e300,)"
    R"("Price":null,"Amount":"0.05","Raw":null,"Var":null,"At":"00:00:00.000","When":null,"Notes":null,"Picture":null})" "\n"
    R"({"Id":12,"Name":"line\nbreak"})" "\n";

class TDumpLoadTest : public ::testing::Test {
 protected:
  // Creates table "All" in FSource from the schema and the three records.
  void SetUp() override {
    Write(FFiles.File("in.json"), std::string(Schema) + "\n" + Records);
    const TRun load = RunTarn("load --create " + FSource.Path() + " All " + FFiles.File("in.json"));
    ASSERT_EQ(load.ExitCode, 0) << load.Output;
    ASSERT_NE(load.Output.find("All: 3 records loaded"), std::string::npos) << load.Output;
  }

  std::int64_t Count(const std::string& dir) {
    TDataSession session;
    TDataCursor c(session.OpenDirectory("C", dir));
    c.SetTableName("All");
    c.OpenCursor();
    return c.GetRecordCount();
  }

  testing_support::TTempDir FSource;
  testing_support::TTempDir FTarget;
  testing_support::TTempDir FFiles;
};

TEST_F(TDumpLoadTest, ValuesAreStoredAsTheirTypesSay) {
  TDataSession session;
  TDataCursor c(session.OpenDirectory("C", FSource.Path()));
  c.SetTableName("All");
  c.OpenCursor();
  std::vector<std::uint8_t> b(c.RecordSize());
  c.SetToBegin();
  ASSERT_EQ(c.GetNextRecord(b), TARN_NONE);
  EXPECT_EQ(static_cast<std::int32_t>(GetLE32(c.GetField(1, b).Bytes, 0)), 7);  // kept auto-increment value
  EXPECT_EQ(static_cast<std::int32_t>(GetLE32(c.GetField(3, b).Bytes, 0)), *EncodeDate(1815, 12, 10));
  EXPECT_EQ(static_cast<std::int64_t>(GetLE64(c.GetField(6, b).Bytes, 0)), -9007199254740993LL);
  EXPECT_EQ(static_cast<std::int32_t>(GetLE32(c.GetField(13, b).Bytes, 0)), *EncodeTime(12, 34, 56, 789));
  std::uint64_t bits = GetLE64(c.GetField(14, b).Bytes, 0);
  double when = 0;
  std::memcpy(&when, &bits, sizeof when);
  EXPECT_EQ(when, EncodeTimestamp(*EncodeDate(2001, 2, 3), *EncodeTime(4, 5, 6, 7)));
  ASSERT_EQ(c.GetNextRecord(b), TARN_NONE);
  EXPECT_STREQ(reinterpret_cast<const char*>(c.GetField(2, b).Bytes.data()), "caf\xE9");  // 8-bit text
  EXPECT_TRUE(c.GetField(3, b).Blank);
}

TEST_F(TDumpLoadTest, JsonAndCsvRoundTrips) {
  for (const std::string format : {"json", "csv"}) {
    SCOPED_TRACE(format);
    testing_support::TTempDir target;
    const std::string first = FFiles.File("first." + format);
    const std::string second = FFiles.File("second." + format);
    const TRun dump = RunTarn("dump --format " + format + " -o " + first + " " + FSource.Path() + " All");
    ASSERT_EQ(dump.ExitCode, 0) << dump.Output;
    if (format == "json") {
      ASSERT_EQ(RunTarn("load --create " + target.Path() + " All " + first).ExitCode, 0);
    } else {
      // An empty table of the same definition, then the CSV rows.
      Write(FFiles.File("schema.json"), std::string(Schema) + "\n");
      ASSERT_EQ(RunTarn("load --create " + target.Path() + " All " + FFiles.File("schema.json")).ExitCode, 0);
      const TRun load = RunTarn("load " + target.Path() + " All " + first);
      ASSERT_EQ(load.ExitCode, 0) << load.Output;
    }
    ASSERT_EQ(RunTarn("dump --format " + format + " -o " + second + " " + target.Path() + " All").ExitCode, 0);
    std::string a = Read(first);
    std::string b = Read(second);
    EXPECT_EQ(a, b);
    for (const char* text : {"1815-12-10", "12:34:56.789", "2001-02-03T04:05:06.007", "-1234.56", "0.05",
                             "-9007199254740993", "AQIDBA==", "iVBORw0KGgo=", "-1e+300"}) {
      EXPECT_NE(a.find(text), std::string::npos) << text << "\n" << a;
    }
    EXPECT_EQ(RunTarn("verify " + target.Path()).ExitCode, 0);
  }
}

TEST_F(TDumpLoadTest, WhereAndIndexChooseTheRecordsAndTheirOrder) {
  const TRun run = RunTarn("dump --format csv --index ByName --where \"Id > 7\" " + FSource.Path() + " All");
  ASSERT_EQ(run.ExitCode, 0) << run.Output;
  // ByName is case-insensitive: "caf\xE9" before "line\nbreak"; Id 7 filtered out.
  const std::size_t cafe = run.Output.find("9,caf");
  const std::size_t line = run.Output.find("\"line\nbreak\"");
  EXPECT_EQ(run.Output.find("Ada"), std::string::npos);
  ASSERT_NE(cafe, std::string::npos);
  ASSERT_NE(line, std::string::npos);
  EXPECT_LT(cafe, line);
}

TEST_F(TDumpLoadTest, BadInputIsReportedByLineAndColumnAndNothingLoads) {
  struct TCase {
    const char* Name;
    const char* File;
    std::string Text;
    const char* Message;
  };
  const std::string header = "Id,Name,Born\n";
  const TCase cases[] = {
      {"csv: a date that is not one", "bad.csv", header + "20,ok,2001-01-01\n21,x,2001-13-01\n",
       "line 3, column 6: field \"Born\": not a date"},
      {"csv: an unclosed quote", "bad.csv", header + "20,\"open,2001-01-01\n", "line 3, column 1: a quoted field is not closed"},
      {"csv: too few fields", "bad.csv", header + "20,ok\n", "line 2, column 1: 2 fields where the header names 3"},
      {"csv: a name too long", "bad.csv", header + "20,abcdefghijklmnopqrstuvwxyz,\n",
       "line 2, column 4: field \"Name\": longer than 24 characters"},
      {"csv: a required field missing", "bad.csv", header + "20,,2001-01-01\n", "line 2, column 1: Tarn Engine Error # 9732"},
      {"json: broken syntax", "bad.json", "{\"Id\":20,\"Name\":\"a\"}\n{\"Id\":21,\"Name\":}\n", "line 2, column 17: not JSON"},
      {"json: an unknown field", "bad.json", "{\"Id\":20,\"Name\":\"a\",\"Colour\":1}\n",
       "line 1, column 21: no field \"Colour\""},
      {"json: a number out of range", "bad.json", "{\"Id\":20,\"Name\":\"a\",\"Small\":40000}\n",
       "line 1, column 21: field \"Small\": not an integer from -32768 to 32767"},
  };
  for (const TCase& k : cases) {
    SCOPED_TRACE(k.Name);
    Write(FFiles.File(k.File), k.Text);
    const TRun run = RunTarn("load " + FSource.Path() + " All " + FFiles.File(k.File));
    EXPECT_EQ(run.ExitCode, 1) << run.Output;
    EXPECT_NE(run.Output.find(k.Message), std::string::npos) << run.Output;
    EXPECT_NE(run.Output.find("nothing loaded"), std::string::npos) << run.Output;
    EXPECT_EQ(Count(FSource.Path()), 3);
  }
  // A duplicate key is found only by the insert: the records before it are
  // rolled back.
  Write(FFiles.File("dup.json"), "{\"Id\":30,\"Name\":\"new one\"}\n{\"Id\":31,\"Name\":\"ADA, \\\"THE\\\" FIRST\"}\n");
  const TRun dup = RunTarn("load " + FSource.Path() + " All " + FFiles.File("dup.json"));
  EXPECT_EQ(dup.ExitCode, 1) << dup.Output;
  EXPECT_NE(dup.Output.find("line 2: Tarn Engine Error # 9729"), std::string::npos) << dup.Output;
  EXPECT_EQ(Count(FSource.Path()), 3);
  // --skip-bad loads the rest.
  const TRun skip = RunTarn("load --skip-bad " + FSource.Path() + " All " + FFiles.File("dup.json"));
  EXPECT_EQ(skip.ExitCode, 0) << skip.Output;
  EXPECT_NE(skip.Output.find("1 records loaded, 1 skipped"), std::string::npos) << skip.Output;
  EXPECT_EQ(Count(FSource.Path()), 4);
}

}  // namespace
