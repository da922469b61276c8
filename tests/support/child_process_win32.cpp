// The child process of tests/support/child_process.h on Windows.
#ifdef _WIN32
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "tests/support/child_process.h"

namespace kw::testing {
namespace {

// One argument quoted as the C runtime splits a command line.
std::string Quote(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t slashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++slashes;
      continue;
    }
    out.append(c == '"' ? 2 * slashes + 1 : slashes, '\\');
    slashes = 0;
    out += c;
  }
  out.append(2 * slashes, '\\');
  return out + "\"";
}

bool SameName(const std::string& entry, const std::string& name) {
  if (entry.size() <= name.size() || entry[name.size()] != '=') return false;
  return CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, entry.data(), static_cast<int>(name.size()),
                        name.data(), static_cast<int>(name.size())) == CSTR_EQUAL;
}

}  // namespace

struct ChildProcess::Impl {
  HANDLE process = nullptr;
  HANDLE in = nullptr;
  std::thread outReader, errReader;
  std::mutex mutex;
  std::condition_variable changed;
  std::string out, err;
  size_t outTaken = 0;
  bool outEnded = false;
  int status = -1;
  bool waited = false;

  void Read(HANDLE pipe, std::string& into, bool isOut) {
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
      std::lock_guard<std::mutex> lock(mutex);
      into.append(buffer, n);
      changed.notify_all();
    }
    CloseHandle(pipe);
    std::lock_guard<std::mutex> lock(mutex);
    if (isOut) outEnded = true;
    changed.notify_all();
  }
};

ChildProcess::ChildProcess(const ChildOptions& options) : impl_(std::make_unique<Impl>()) {
  std::string commandLine;
  for (const std::string& a : options.argv) commandLine += (commandLine.empty() ? "" : " ") + Quote(a);
  std::vector<std::string> env;
  if (char* block = GetEnvironmentStringsA()) {
    for (const char* e = block; *e; e += std::strlen(e) + 1) {
      const std::string v = e;
      bool drop = false;
      for (const std::string& name : options.unsetEnv) drop = drop || SameName(v, name);
      for (const std::string& set : options.setEnv) drop = drop || SameName(v, set.substr(0, set.find('=')));
      if (!drop) env.push_back(v);
    }
    FreeEnvironmentStringsA(block);
  }
  env.insert(env.end(), options.setEnv.begin(), options.setEnv.end());
  std::string envBlock;
  for (const std::string& v : env) envBlock += v + '\0';
  envBlock += '\0';

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE inRead, inWrite, outRead, outWrite, errRead, errWrite;
  if (!CreatePipe(&inRead, &inWrite, &inherit, 0) || !CreatePipe(&outRead, &outWrite, &inherit, 0) ||
      !CreatePipe(&errRead, &errWrite, &inherit, 0)) {
    throw std::runtime_error("CreatePipe failed");
  }
  for (HANDLE own : {inWrite, outRead, errRead}) SetHandleInformation(own, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead;
  startup.hStdOutput = outWrite;
  startup.hStdError = errWrite;
  PROCESS_INFORMATION info{};
  const BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                      envBlock.data(), nullptr, &startup, &info);
  const DWORD startError = GetLastError();
  for (HANDLE theirs : {inRead, outWrite, errWrite}) CloseHandle(theirs);
  if (!started) {
    for (HANDLE own : {inWrite, outRead, errRead}) CloseHandle(own);
    throw std::runtime_error("cannot start " + commandLine + " (error " + std::to_string(startError) + ")");
  }
  CloseHandle(info.hThread);
  impl_->process = info.hProcess;
  impl_->in = inWrite;
  Impl* impl = impl_.get();
  impl_->outReader = std::thread([impl, outRead] { impl->Read(outRead, impl->out, true); });
  impl_->errReader = std::thread([impl, errRead] { impl->Read(errRead, impl->err, false); });
  WriteInput(options.input);
  if (!options.keepInputOpen) CloseInput();
}

ChildProcess::~ChildProcess() {
  if (!impl_->waited) {
    Kill();
    Wait();
  }
  CloseInput();
  if (impl_->process != nullptr) CloseHandle(impl_->process);
}

bool ChildProcess::ReadOutput(std::string& out, double seconds) {
  std::unique_lock<std::mutex> lock(impl_->mutex);
  impl_->changed.wait_for(lock, std::chrono::duration<double>(seconds),
                          [&] { return impl_->out.size() > impl_->outTaken || impl_->outEnded; });
  const bool got = impl_->out.size() > impl_->outTaken;
  out.append(impl_->out, impl_->outTaken);
  impl_->outTaken = impl_->out.size();
  return got || !impl_->outEnded;
}

std::string ChildProcess::ErrorOutput() {
  std::lock_guard<std::mutex> lock(impl_->mutex);
  return impl_->err;
}

void ChildProcess::WriteInput(std::string_view bytes) {
  while (!bytes.empty() && impl_->in != nullptr) {
    DWORD n = 0;
    if (!WriteFile(impl_->in, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) || n == 0) break;
    bytes.remove_prefix(n);
  }
}

void ChildProcess::CloseInput() {
  if (impl_->in != nullptr) CloseHandle(impl_->in);
  impl_->in = nullptr;
}

int ChildProcess::Wait() {
  if (impl_->waited) return impl_->status;
  WaitForSingleObject(impl_->process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(impl_->process, &code);
  // Grandchildren may keep the pipes open; what the child wrote is read.
  if (impl_->outReader.joinable()) impl_->outReader.join();
  if (impl_->errReader.joinable()) impl_->errReader.join();
  impl_->waited = true;
  impl_->status = static_cast<int>(code);
  return impl_->status;
}

bool ChildProcess::TryWait(double seconds) {
  if (impl_->waited) return true;
  if (WaitForSingleObject(impl_->process, static_cast<DWORD>(seconds * 1000)) != WAIT_OBJECT_0) return false;
  Wait();
  return true;
}

bool ChildProcess::Interrupt() { return false; }

int ChildProcess::TermSignal() const { return 0; }

double ChildProcess::CpuSeconds() const {
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(impl_->process, &created, &exited, &kernel, &user)) return 0;
  auto s = [](const FILETIME& t) {
    return static_cast<double>((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 1e7;
  };
  return s(kernel) + s(user);
}

void ChildProcess::Kill() {
  // The status a POSIX child killed by SIGKILL has.
  if (!impl_->waited) TerminateProcess(impl_->process, 128 + 9);
}

std::string ThisProgram() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
  return n > 0 && n < sizeof path ? std::string(path, n) : std::string();
}

}  // namespace kw::testing
#endif
