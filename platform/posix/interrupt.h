#pragma once
// Ctrl-C asks the run to end. The first SIGINT after installation sets a flag and writes a
// byte to a pipe, so that an event loop waiting for input wakes up; the second SIGINT ends
// the process at once, as SIGINT does by default.
namespace kw {

// Installs the handler; installing again forgets an earlier interrupt.
void InstallInterruptHandler();
// True once SIGINT has arrived since the last installation.
bool Interrupted();
// Read end of the pipe (non-blocking): readable once SIGINT has arrived. -1 before the
// handler is installed.
int InterruptFd();

}  // namespace kw
