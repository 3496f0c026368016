#pragma once
// VelkaroReport: reads the results files of a fleet and writes the page, and on request the
// spreadsheet rows and the summary.

#include <ctime>
#include <filesystem>
#include <ostream>
#include <vector>

namespace velkaro::report {

/// Exit codes: every expected machine succeeded; some did not; the report was not written.
inline constexpr int kReportAllSucceeded = 0;
inline constexpr int kReportNotAllSucceeded = 2;
inline constexpr int kReportNotWritten = 1;

/// Runs the report on `words` (without the program's name), as of `now` (seconds since 1970;
/// -1: the clock's time). Messages go to `out`, errors to `err`.
int runReport(const std::vector<std::filesystem::path>& words, std::ostream& out, std::ostream& err,
              int64_t now = -1);

}  // namespace velkaro::report
