#pragma once
// The results file: a JSON document of one run for an endpoint manager's scripts.

#include <string>

#include "app/result_format.h"
#include "config/run_record.h"

namespace velkaro {

/// The document's format version (see app/result_format.h).
inline constexpr int kResultFormatVersion = resultformat::kVersion;

/// The record as a JSON document (UTF-8). Texts that are not valid UTF-16 come out with the
/// replacement character instead of failing.
std::string resultDocument(const RunRecord& record);

/// Writes the document to `path` in one step (see writeFileAtomically); `error` on failure.
bool writeResultFile(const std::wstring& path, const RunRecord& record, std::wstring& error);

/// The words the document uses for an outcome and a launch result.
const char* outcomeWord(ProductOutcome outcome);
const char* launchResultWord(int launchResult);

/// A refusal's word, as a run record holds it.
std::wstring refusalWord(resultformat::Refusal refusal);

}  // namespace velkaro
