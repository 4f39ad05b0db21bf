// parseStatus on any bytes, as varnex-status meets whatever lies in the
// folder: it never crashes, and whatever it takes is a report whose text
// reads back to the same report (so nothing it shows was made up).
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "status/status_report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string text(reinterpret_cast<const char *>(data), size);
    const std::optional<varnex::StatusReport> report = varnex::parseStatus(text);
    if (!report) return 0;
    const std::string written = varnex::statusText(*report);
    const std::optional<varnex::StatusReport> again = varnex::parseStatus(written);
    FUZZ_CHECK(again && *again == *report, varnex_fuzz::shown(text) + " -> " + varnex_fuzz::shown(written));
    return 0;
}
