// The fleet report's reader on any bytes: it never crashes or hangs, a file it accepts gives
// words in range and well-formed text in every field (escapes included), and what goes into the
// page's data block cannot end it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_common.h"
#include "report/report_output.h"
#include "report/result_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    velkaro::report::RunResult run;
    velkaro::report::Unreadable why{};
    std::string detail;
    auto wellFormed = [](const std::string& text) {
        if (velkaro::report::validUtf8(text) != text)
            fuzzsupport::fail("an accepted text is not UTF-8");
    };
    if (velkaro::report::parseResultFile(bytes, run, why, detail)) {
        if (run.products.size() > velkaro::report::kMaxProducts)
            fuzzsupport::fail("more products than the report takes");
        for (const auto& product : run.products) {
            if (product.outcome >= 5 || product.launch > velkaro::report::kLaunchNone)
                fuzzsupport::fail("a word out of range");
            for (const std::string* text : {&product.name.family, &product.name.sapCode,
                                            &product.name.version, &product.name.platform})
                wellFormed(*text);
        }
        for (const std::string* text :
             {&run.hostName, &run.refusal, &run.stopRequest, &run.machineId, &run.configSha256,
              &run.programVersion, &run.logPath})
            wellFormed(*text);
    } else if (detail.empty()) {
        fuzzsupport::fail("a refused file without a reason");
    }
    // Any text, made well-formed and escaped for the data block, leaves no markup.
    const std::string text = velkaro::report::validUtf8(bytes);
    if (velkaro::report::validUtf8(text) != text)
        fuzzsupport::fail("replacement left ill-formed text");
    const std::string safe = velkaro::report::scriptSafeJson(text);
    if (safe.find_first_of("<>&") != std::string::npos ||
        safe.find("\xE2\x80\xA8") != std::string::npos)
        fuzzsupport::fail("the data block can be closed from a results file");
    return 0;
}
