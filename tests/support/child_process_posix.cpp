// The child process of tests/support/child_process.h on POSIX systems.
#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "tests/support/child_process.h"

extern char** environ;

namespace kw::testing {

struct ChildProcess::Impl {
  pid_t pid = -1;
  int in = -1, out = -1, err = -1;
  std::string errText;
  std::string kept;  // stdout read while waiting, not yet handed out
  int status = -1;
  bool waited = false;
  rusage usage{};
  int signal = 0;

  // Reaps the child if it has ended; true once it has.
  bool Reap(bool block) {
    if (waited) return true;
    int st = 0;
    rusage ru{};
    pid_t r;
    while ((r = wait4(pid, &st, block ? 0 : WNOHANG, &ru)) < 0 && errno == EINTR) {
    }
    if (r != pid) return false;
    waited = true;
    usage = ru;
    signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
    status = WIFSIGNALED(st) ? 128 + WTERMSIG(st) : WEXITSTATUS(st);
    return true;
  }

  // Reads what is there on stdout (into `into`) and stderr; false at the end of stdout.
  bool Drain(std::string* into, int timeoutMs) {
    pollfd fds[2] = {{out, POLLIN, 0}, {err, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) < 0) return errno == EINTR;
    char buffer[65536];
    if (err >= 0 && fds[1].revents != 0) {
      const ssize_t n = read(err, buffer, sizeof buffer);
      if (n > 0) {
        errText.append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(err);
        err = -1;
      }
    }
    if (out >= 0 && fds[0].revents != 0) {
      const ssize_t n = read(out, buffer, sizeof buffer);
      if (n > 0) {
        if (into) into->append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(out);
        out = -1;
      }
    }
    return out >= 0;
  }
};

ChildProcess::ChildProcess(const ChildOptions& options) : impl_(std::make_unique<Impl>()) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string v = *e;
    bool drop = false;
    for (const std::string& name : options.unsetEnv) drop = drop || v.rfind(name + "=", 0) == 0;
    for (const std::string& set : options.setEnv) drop = drop || v.rfind(set.substr(0, set.find('=') + 1), 0) == 0;
    if (!drop) env.push_back(v);
  }
  env.insert(env.end(), options.setEnv.begin(), options.setEnv.end());
  std::vector<char*> envp, argv;
  for (auto& v : env) envp.push_back(v.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = options.argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int in[2], out[2], err[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  impl_->pid = fork();
  if (impl_->pid < 0) throw std::runtime_error("fork failed");
  if (impl_->pid == 0) {
    if (options.fileSizeLimit > 0) {
      // A write past the limit then fails with EFBIG instead of ending the process.
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{options.fileSizeLimit, options.fileSizeLimit};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    dup2(in[0], 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    signal(SIGPIPE, SIG_DFL);
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  close(err[1]);
  impl_->in = in[1];
  impl_->out = out[0];
  impl_->err = err[0];
  signal(SIGPIPE, SIG_IGN);  // a child that stops reading must not end the test
  WriteInput(options.input);
  if (!options.keepInputOpen) CloseInput();
}

ChildProcess::~ChildProcess() {
  if (!impl_->waited) {
    Kill();
    Wait();
  }
  for (int fd : {impl_->in, impl_->out, impl_->err})
    if (fd >= 0) close(fd);
}

bool ChildProcess::ReadOutput(std::string& out, double seconds) {
  if (!impl_->kept.empty()) {
    out += impl_->kept;
    impl_->kept.clear();
    return true;
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  const size_t before = out.size();
  // At least one look, however short the time.
  do {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    impl_->Drain(&out, static_cast<int>(std::max<int64_t>(left.count(), 0)));
  } while (impl_->out >= 0 && out.size() == before && std::chrono::steady_clock::now() < end);
  return impl_->out >= 0 || out.size() != before;
}

std::string ChildProcess::ErrorOutput() {
  while (impl_->err >= 0) {
    pollfd fd{impl_->err, POLLIN, 0};
    if (poll(&fd, 1, 0) <= 0) break;
    impl_->Drain(nullptr, 0);
  }
  return impl_->errText;
}

void ChildProcess::WriteInput(std::string_view bytes) {
  while (!bytes.empty() && impl_->in >= 0) {
    const ssize_t n = write(impl_->in, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void ChildProcess::CloseInput() {
  if (impl_->in >= 0) close(impl_->in);
  impl_->in = -1;
}

int ChildProcess::Wait() {
  if (impl_->waited) return impl_->status;
  while (impl_->out >= 0 || impl_->err >= 0) {
    if (impl_->out < 0) {
      char buffer[4096];
      const ssize_t n = read(impl_->err, buffer, sizeof buffer);
      if (n > 0) {
        impl_->errText.append(buffer, static_cast<size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      close(impl_->err);
      impl_->err = -1;
      break;
    }
    impl_->Drain(&impl_->kept, -1);
  }
  impl_->Reap(true);
  return impl_->status;
}

bool ChildProcess::TryWait(double seconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (!impl_->Reap(false)) {
    if (std::chrono::steady_clock::now() >= end) return false;
    // Reads what it writes meanwhile, so that it cannot stall on a full pipe.
    if (impl_->out >= 0 || impl_->err >= 0) {
      impl_->Drain(&impl_->kept, 1);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

int ChildProcess::TermSignal() const { return impl_->signal; }

bool ChildProcess::Interrupt() { return !impl_->waited && kill(impl_->pid, SIGINT) == 0; }

double ChildProcess::CpuSeconds() const {
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return s(impl_->usage.ru_utime) + s(impl_->usage.ru_stime);
}

void ChildProcess::Kill() {
  if (!impl_->waited) kill(impl_->pid, SIGKILL);
}

std::string ThisProgram() {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  return n > 0 ? std::string(path, static_cast<size_t>(n)) : std::string();
}

}  // namespace kw::testing
#endif
