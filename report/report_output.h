#pragma once
// What the report writes: the page, the spreadsheet rows and the summary for scripts.

#include <ostream>
#include <string>

#include "report/fleet.h"

namespace velkaro::report {

/// The headline counts as a small JSON document.
std::string summaryDocument(const Fleet& fleet, const FleetOptions& options);

/// Writes the self-contained page to `out`: the template with the fleet's data in its data
/// block, escaped on the way, so no second copy of the data is held.
void writeReportPage(const Fleet& fleet, const FleetOptions& options, std::ostream& out);

/// One row per machine and product (a machine without products, or an expected one that never
/// reported, gets one row).
std::string csvDocument(const Fleet& fleet);

/// The hosts to run again, one a line.
std::string rerunDocument(const Fleet& fleet);

/// True when every machine succeeded, every expected one reported and every file was read.
bool everyMachineSucceeded(const Fleet& fleet);

/// JSON text made safe inside an HTML script element: "<", ">", "&", U+2028 and U+2029 as
/// escapes (they occur only inside JSON strings, where the escapes mean the same).
std::string scriptSafeJson(const std::string& json);

}  // namespace velkaro::report
