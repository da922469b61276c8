#include "platform/posix/interrupt.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace kw {
namespace {

volatile std::sig_atomic_t gInterrupted = 0;
int gPipe[2] = {-1, -1};

void OnInterrupt(int) {
  const int savedErrno = errno;
  gInterrupted = 1;
  if (gPipe[1] >= 0) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = write(gPipe[1], &byte, 1);
  }
  errno = savedErrno;
}

}  // namespace

void InstallInterruptHandler() {
  if (gPipe[0] < 0 && pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) gPipe[0] = gPipe[1] = -1;
  if (gPipe[0] >= 0) {
    char drain[64];
    while (read(gPipe[0], drain, sizeof drain) > 0) {
    }
  }
  gInterrupted = 0;
  struct sigaction sa {};
  sa.sa_handler = OnInterrupt;
  sigemptyset(&sa.sa_mask);
  // No SA_RESTART: a prompt waiting for input returns at once. SA_RESETHAND: a second
  // Ctrl-C ends the process.
  sa.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &sa, nullptr);
}

bool Interrupted() { return gInterrupted != 0; }

int InterruptFd() { return gPipe[0]; }

}  // namespace kw
