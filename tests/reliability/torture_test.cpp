// Short runs of tarn-torture: four processes on one table under each locking
// protocol, with and without transactions, and a writer killed ten times
// while readers go on. The program checks the table against the processes'
// logs and with the deep table check; its summary line says OK or FAILED.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

#include "support/temp_dir.h"

namespace {

struct TResult {
  int ExitCode = -1;
  std::string Output;
};

TResult Torture(const std::string& dir, const std::string& args) {
  const std::string command = std::string(TORTURE_PROGRAM) + " " + dir + " " + args + " </dev/null 2>&1";
  TResult r;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return r;
  std::array<char, 4096> buf{};
  std::size_t n = 0;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) r.Output.append(buf.data(), n);
  const int status = pclose(pipe);
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

TEST(TortureTest, FourProcessesLoseNoUpdate) {
  for (const char* mode : {"--protocol pessimistic", "--protocol optimistic", "--protocol pessimistic --transactions",
                           "--protocol optimistic --transactions"}) {
    SCOPED_TRACE(mode);
    testing_support::TTempDir dir;
    const TResult r = Torture(dir.Path(), std::string("--processes 4 --ops 500 --seed 11 ") + mode);
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_NE(r.Output.find(": OK"), std::string::npos) << r.Output;
  }
}

TEST(TortureTest, KilledWriterLosesNothingItCompleted) {
  for (const char* mode : {"", "--transactions"}) {
    SCOPED_TRACE(mode);
    testing_support::TTempDir dir;
    const TResult r = Torture(dir.Path(), std::string("--kills 10 --readers 2 --seed 17 ") + mode);
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_NE(r.Output.find("kill run: 10 kills"), std::string::npos) << r.Output;
  }
}

}  // namespace
