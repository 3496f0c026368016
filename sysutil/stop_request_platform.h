#pragma once
// What the launcher's wait watches to hear a stop request at once (stop_request_*.cpp). Each
// platform file defines its own half; the other half is never called there.

namespace korr::detail {

/// POSIX: the read end of a non-blocking pipe that receives one byte per request; -1 before
/// installStopHandlers.
int stopRequestPipe();

/// POSIX: empties stopRequestPipe() after a wake; the requests stay counted.
void drainStopRequestPipe();

/// Windows: an auto-reset event that each request sets; null before installStopHandlers.
void* stopRequestEvent();

}  // namespace korr::detail
