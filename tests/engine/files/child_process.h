#pragma once
// A forked child process for locking tests, sequenced through two pipes.
//
// The child runs body(child) and ends with _exit(its result); it must not
// return into the test framework. The parent talks to it with Send/Receive
// (one byte each) and collects its exit status with Wait (a plain waitpid).
// Fork before the parent opens the files under test, so that the child starts
// with a file list and range-lock table of its own.

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <functional>

namespace files_test {

class TChildProcess {
 public:
  // Message bytes used by the tests.
  static constexpr std::uint8_t Go = 'g';
  static constexpr std::uint8_t Ready = 'r';

  explicit TChildProcess(const std::function<int(TChildProcess& self)>& body) {
    if (::pipe(FToChild) != 0 || ::pipe(FToParent) != 0) std::abort();
    FPid = ::fork();
    if (FPid < 0) std::abort();
    if (FPid == 0) {
      FInChild = true;
      ::close(FToChild[1]);
      ::close(FToParent[0]);
      int result = 99;
      try {
        result = body(*this);
      } catch (...) {
        result = 98;
      }
      ::_exit(result);
    }
    ::close(FToChild[0]);
    ::close(FToParent[1]);
  }
  ~TChildProcess() {
    if (!FWaited) Wait();
  }
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  // Sends one byte to the other side.
  void Send(std::uint8_t byte) {
    const int fd = FInChild ? FToParent[1] : FToChild[1];
    while (::write(fd, &byte, 1) != 1) {
    }
  }
  // Waits for one byte from the other side; -1 when the other side is gone.
  int Receive() {
    const int fd = FInChild ? FToChild[0] : FToParent[0];
    std::uint8_t byte = 0;
    const ssize_t n = ::read(fd, &byte, 1);
    return n == 1 ? byte : -1;
  }
  // Parent: waits for the child and returns its exit code (-1 if it did not
  // exit normally).
  int Wait() {
    FWaited = true;
    ::close(FToChild[1]);
    int status = 0;
    while (::waitpid(FPid, &status, 0) < 0) {
      if (errno != EINTR) return -1;
    }
    ::close(FToParent[0]);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  int FToChild[2] = {-1, -1};
  int FToParent[2] = {-1, -1};
  pid_t FPid = -1;
  bool FInChild = false;
  bool FWaited = false;
};

}  // namespace files_test
