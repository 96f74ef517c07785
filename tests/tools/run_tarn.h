#pragma once
// Runs the tarn program with arguments (standard input empty) and collects
// its exit code and its standard output and error together.

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace tool_testing {

struct TRun {
  int ExitCode = -1;
  std::string Output;
};

// input: a file for standard input (empty: none).
inline TRun RunTarn(const std::string& args, const std::string& input = "/dev/null") {
  const std::string command = std::string(TARN_PROGRAM) + " " + args + " <" + input + " 2>&1";
  TRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::array<char, 4096> buf{};
  std::size_t n = 0;
  while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) run.Output.append(buf.data(), n);
  const int status = pclose(pipe);
  run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

}  // namespace tool_testing
