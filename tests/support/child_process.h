#pragma once
// For tests: another program (or this one again) started as a child
// process with its standard streams in pipes. The same on every platform:
// fork and exec on POSIX, CreateProcess on Windows.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kw::testing {

struct ChildOptions {
  std::vector<std::string> argv;      // the program (a path, or a name looked up in PATH) and its arguments
  std::vector<std::string> setEnv;    // "NAME=value", added to this process's environment
  std::vector<std::string> unsetEnv;  // names left out of it
  std::string input;                  // written to the child's standard input
  bool keepInputOpen = false;         // else standard input is closed after `input`
  // POSIX only: the largest file the child may write, in bytes
  // (RLIMIT_FSIZE, SIGXFSZ ignored): writes beyond it fail as on a full
  // disk. 0: no limit.
  uint64_t fileSizeLimit = 0;
};

class ChildProcess {
 public:
  // Starts the child; throws std::runtime_error when it cannot be started.
  explicit ChildProcess(const ChildOptions& options);
  // A child still running is killed and waited for.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Appends what the child wrote to its standard output within `seconds`
  // (at least one byte unless the time runs out); false once the output has
  // ended and all of it was read.
  bool ReadOutput(std::string& out, double seconds);
  // Everything it wrote to standard error so far (after Wait: all of it).
  std::string ErrorOutput();
  void WriteInput(std::string_view bytes);
  void CloseInput();
  // Waits for the end; the exit status, or 128 + the signal that ended it.
  int Wait();
  // Waits at most `seconds` for the end (0: looks only); true once it ended.
  // What it writes meanwhile stays to be read.
  bool TryWait(double seconds);
  // Asks it to end as Ctrl-C does (SIGINT); false where that cannot be
  // sent (Windows: the child has no console).
  bool Interrupt();
  // The processor time it used, user and system; known once it ended.
  double CpuSeconds() const;
  // The signal that ended it (POSIX), else 0.
  int TermSignal() const;
  // Ends it at once (SIGKILL, TerminateProcess).
  void Kill();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

struct ChildResult {
  int status = -1;
  std::string out;
  std::string err;
};

// The path of the running program: a test starts itself again as a child.
std::string ThisProgram();

// Runs a child to its end; killed after `timeoutSeconds` (status then as killed).
ChildResult RunChild(const ChildOptions& options, double timeoutSeconds = 120);
// The same for a program and its arguments alone.
ChildResult RunCommand(const std::vector<std::string>& argv, double timeoutSeconds = 120);

}  // namespace kw::testing
