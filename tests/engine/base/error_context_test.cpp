#include "engine/base/error_context.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <new>
#include <string>
#include <thread>

#include "engine/base/engine_error.h"

namespace tarn {
namespace {

// Raises and returns the exception, so that tests can look at it.
ETarnEngineError Raise(TErrorCode code, const TErrorNames& names) {
  try {
    RaiseEngineError(code, names);
  } catch (const ETarnEngineError& e) {
    return e;
  }
  ADD_FAILURE() << "RaiseEngineError returned";
  return ETarnEngineError(code);
}

class ErrorContextTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearErrorContext(); }
};

struct TMessageCase {
  TErrorCode Code;
  std::string_view Name;
  std::string Expected;  // with the context of FullNames below
};

const TErrorNames FullNames{.Server = "srv", .User = "usr", .Database = "/data", .Table = "velmorn2",
                            .Field = "Order", .Index = "ByName", .Message = "near 'x'"};

TEST_F(ErrorContextTest, MessagesFillTheirPlaceholdersInOrder) {
  const TMessageCase cases[] = {
      {TARN_NONE, "TARN_NONE", "An unknown error occurred"},
      {TARN_BOF, "TARN_BOF", "Beginning of table 'velmorn2' unexpectedly encountered"},
      {TARN_KEYVIOL, "TARN_KEYVIOL", "Duplicate key found in the index 'ByName' of the table 'velmorn2'"},
      {TARN_MINVALERR, "TARN_MINVALERR",
       "The value for the field 'Order' in the table 'velmorn2' is below the minimum allowable value"},
      {TARN_INVALIDIDXDESC, "TARN_INVALIDIDXDESC",
       "Invalid field number 'Order' specified in the index 'ByName' for the table 'velmorn2'"},
      {TARN_INVALIDFILTER, "TARN_INVALIDFILTER", "Filter error for the table 'velmorn2' - near 'x'"},
      {TARN_OSENOMEM, "TARN_OSENOMEM",
       "There is insufficient operating system memory available for the current operation"},
      {TARN_OSUNKNOWN, "TARN_OSUNKNOWN", "An unknown operating system error occurred with the table 'velmorn2'"},
      {TARN_REMOTEUNKNOWN, "TARN_REMOTEUNKNOWN",
       "An unknown error ('near 'x'') occurred with the connection to the database server at 'srv', please "
       "check the server log"},
      {TARN_REMOTENOTAUTH, "TARN_REMOTENOTAUTH",
       "The user 'usr' is not authorized to perform this operation with the database '/data' on the database "
       "server at 'srv'"},
      {TARN_REMOTECALLBACK, "TARN_REMOTECALLBACK", "An unknown error occurred"},
      {TARN_SQLPARSE, "TARN_SQLPARSE", "SQL error - near 'x'"},
      {TARN_CANNOTLOADLDDRV, "TARN_CANNOTLOADLDDRV",
       "The language driver for the table 'velmorn2' is not available or installed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ETarnEngineError e = Raise(c.Code, FullNames);
    EXPECT_EQ(c.Expected, GetErrorMessage(c.Code));
    EXPECT_EQ(c.Name, GetErrorName(c.Code));
    EXPECT_EQ("Tarn Engine Error # " + std::to_string(c.Code) + " " + c.Expected, e.what());
  }
}

TEST_F(ErrorContextTest, TableIsCompleteAndOrdered) {
  // Every code from 0 to 65535 either has a name and a non-empty message, or
  // no name and the unknown text; the named ones number exactly the table.
  int named = 0;
  for (int code = 0; code <= 0xFFFF; ++code) {
    const auto name = GetErrorName(static_cast<TErrorCode>(code));
    if (name.empty()) {
      EXPECT_EQ("An unknown error occurred", GetErrorMessage(static_cast<TErrorCode>(code))) << code;
    } else {
      ++named;
      EXPECT_EQ(0u, name.rfind("TARN_", 0)) << code;
    }
  }
  EXPECT_EQ(92, named);
}

TEST_F(ErrorContextTest, UnknownCodesHaveNoNameAndTheUnknownText) {
  for (TErrorCode code : {TErrorCode{1}, TErrorCode{8704}, TErrorCode{65535}}) {
    EXPECT_EQ("", GetErrorName(code));
    EXPECT_EQ("An unknown error occurred", GetErrorMessage(code));
  }
  ETarnEngineError e = Raise(12345, {.Table = "t"});
  EXPECT_STREQ("Tarn Engine Error # 12345 An unknown error occurred", e.what());
}

TEST_F(ErrorContextTest, ExceptionCopiesTheContext) {
  errno = ENOENT;
  ETarnEngineError e = Raise(TARN_INVALIDPASSWORD, FullNames);
  EXPECT_EQ(TARN_INVALIDPASSWORD, e.ErrorCode());
  EXPECT_STREQ("Tarn Engine Error # 10015 Password provided for the table 'velmorn2' is invalid", e.what());
  EXPECT_EQ(ENOENT, e.OSErrorCode());
  EXPECT_EQ(0, e.SocketErrorCode());
  EXPECT_EQ("srv", e.ErrorServer());
  EXPECT_EQ("usr", e.ErrorUser());
  EXPECT_EQ("/data", e.ErrorDatabase());
  EXPECT_EQ("velmorn2", e.ErrorTable());
  EXPECT_EQ("Order", e.ErrorField());
  EXPECT_EQ("ByName", e.ErrorIndex());
  EXPECT_EQ("near 'x'", e.ErrorMessage());
  EXPECT_EQ(TARN_INVALIDPASSWORD, LastErrorCode());
  EXPECT_EQ(std::to_string(ENOENT), GetErrorContextItem(7));
  EXPECT_EQ("0", GetErrorContextItem(8));
}

TEST_F(ErrorContextTest, RaiseErrorCodeRepeatsTheEarlierContext) {
  Raise(TARN_KEYVIOL, {.Database = "d", .Table = "t1", .Index = "i1"});
  try {
    RaiseErrorCode(TARN_EOF);
    FAIL();
  } catch (const ETarnEngineError& e) {
    EXPECT_EQ(TARN_EOF, e.ErrorCode());
    EXPECT_EQ("t1", e.ErrorTable());
    EXPECT_EQ("i1", e.ErrorIndex());
    EXPECT_STREQ("Tarn Engine Error # 8706 End of table 't1' unexpectedly encountered", e.what());
  }
  // The context keeps the code of the last RaiseEngineError.
  EXPECT_EQ(TARN_KEYVIOL, LastErrorCode());
}

TEST_F(ErrorContextTest, RaiseClearsWhatTheNewErrorDoesNotName) {
  Raise(TARN_KEYVIOL, {.Table = "t1", .Index = "i1"});
  ETarnEngineError e = Raise(TARN_EOF, {.Table = "t2"});
  EXPECT_EQ("", e.ErrorIndex());
  EXPECT_EQ("", GetErrorContextItem(5));
}

TEST_F(ErrorContextTest, ContextItemsOutOfRangeAreEmpty) {
  SetErrorContext(TARN_EOF, -5, 7, "s", "u", "d", "t", "f", "i", "m");
  const char* expected[] = {"s", "u", "d", "t", "f", "i", "m", "-5", "7"};
  for (int item = 0; item <= 8; ++item) EXPECT_EQ(expected[item], GetErrorContextItem(item)) << item;
  for (int item : {-1, 9, 100}) EXPECT_EQ("", GetErrorContextItem(item)) << item;
  ClearErrorContext();
  EXPECT_EQ(0, LastErrorCode());
  EXPECT_EQ("0", GetErrorContextItem(7));
  EXPECT_EQ("", GetErrorContextItem(3));
}

TEST_F(ErrorContextTest, LongStringsAreCutAndMessagesLimited) {
  const std::string longName(400, 'x');
  ETarnEngineError e = Raise(TARN_BOF, {.Table = longName});
  EXPECT_EQ(255u, e.ErrorTable().size());
  EXPECT_EQ(255u, GetErrorContextItem(3).size());
  const std::string message = GetErrorMessage(TARN_BOF);
  EXPECT_EQ(254u, message.size());
  EXPECT_EQ(0u, message.rfind("Beginning of table 'xxx", 0));

  char buffer[300];
  GetErrorMessage(TARN_BOF, buffer);
  EXPECT_EQ(254u, std::string(buffer).size());
  char small[10];
  GetErrorMessage(TARN_BOF, small);
  EXPECT_STREQ("Beginning", small);
}

TEST_F(ErrorContextTest, ErrorCodeOfForeignExceptionsIsUnknownOsError) {
  EXPECT_EQ(TARN_OSUNKNOWN, ErrorCodeOf(std::bad_alloc()));
  EXPECT_EQ(TARN_OSUNKNOWN, ErrorCodeOf(EDatabaseError("Missing table name.")));
  EXPECT_EQ(TARN_LOCKED, ErrorCodeOf(Raise(TARN_LOCKED, {.Table = "t"})));
  EXPECT_EQ(TARN_OSUNKNOWN, ErrorCodeOf(std::make_exception_ptr(42)));
  EXPECT_EQ(TARN_EOF, ErrorCodeOf(std::make_exception_ptr(Raise(TARN_EOF, {}))));
}

TEST_F(ErrorContextTest, ContextsOfTwoThreadsDoNotMix) {
  // Each thread raises and reads back its own errors many times over; with a
  // shared context the other thread's table name would show up.
  auto worker = [](std::string table, TErrorCode code, bool* ok) {
    *ok = true;
    for (int i = 0; i < 2000 && *ok; ++i) {
      try {
        RaiseEngineError(code, {.Table = table});
      } catch (const ETarnEngineError& e) {
        *ok = e.ErrorTable() == table && e.ErrorCode() == code && GetErrorContextItem(3) == table &&
              LastErrorCode() == code;
      }
    }
  };
  bool ok1 = false;
  bool ok2 = false;
  std::thread t1(worker, "first", TARN_BOF, &ok1);
  std::thread t2(worker, "second", TARN_EOF, &ok2);
  t1.join();
  t2.join();
  EXPECT_TRUE(ok1);
  EXPECT_TRUE(ok2);
}

TEST(DatabaseErrorTest, ComponentNamePrefix) {
  EXPECT_STREQ("VantorTable: Missing table name.",
               EDatabaseError::ForComponent("VantorTable", "Missing table name.").what());
  EXPECT_STREQ("Missing table name.", EDatabaseError::ForComponent("", "Missing table name.").what());
  EDatabaseError e("Closed.", 7);
  EXPECT_EQ(7, e.HelpContext());
  EXPECT_EQ("Closed.", e.Message());
}

TEST(ErrorClassTest, ClassifiesCodes) {
  EXPECT_TRUE(IsLockConflict(TARN_LOCKED));
  EXPECT_TRUE(IsLockConflict(TARN_RECLOCKFAILED));
  EXPECT_TRUE(IsCorruption(TARN_INDEXCORRUPT));
  EXPECT_FALSE(IsCorruption(TARN_EOF));
  EXPECT_EQ(TErrorClass::Position, ClassifyError(TARN_NOCURRREC));
  EXPECT_EQ(TErrorClass::None, ClassifyError(0));
}

}  // namespace
}  // namespace tarn
