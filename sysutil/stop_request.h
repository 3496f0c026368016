#pragma once
// Stop requests: Ctrl+C, Ctrl+Break, a closed console window, logoff and shutdown on Windows;
// SIGINT, SIGTERM and SIGHUP on POSIX. Once the handlers are installed such a request no longer
// ends the process: it is counted, and the run asks between products and while it waits for a
// setup program.

#include <string>

namespace korr {

/// Installs the handlers (once per process; later calls do nothing). A request the parent chose
/// to ignore (SIGHUP under nohup, Ctrl+C for a new process group) stays ignored. False when the
/// platform refused them, and then requests end the process as before.
bool installStopHandlers();

/// How many stop requests arrived since the handlers were installed (or cleared).
int stopRequestCount();

/// What the first request was, for the log ("SIGTERM", "Ctrl+C", ...); empty when none came.
const wchar_t* stopRequestName();

/// The first request prints one line on standard error at once: "Stop requested (<name>): "
/// and this text, which names what is finishing; empty (the start): "no further product will
/// be started.". Long texts are cut.
void setStopNotice(const std::wstring& text);

/// Forgets earlier requests; for a process that runs more than once (tests).
void clearStopRequests();

/// Tells a handler that has only seconds left (a closed console window, shutdown) that the run
/// has cleaned up, so it need not wait any longer. Nothing on POSIX.
void stopHandlingDone();

}  // namespace korr
