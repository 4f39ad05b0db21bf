#include "status/status_report.h"

#include <cstdlib>

namespace varnex {

namespace {

constexpr const char *kFirstLine = "varnex status 1";

// A field never holds the separators of the format.
std::string field(const std::string &text) {
    std::string clean = text;
    for (char &c : clean)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return clean;
}

std::vector<std::string> fieldsOf(const std::string &line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

bool number(const std::string &text, long long &value) {
    if (text.empty()) return false;
    char *end = nullptr;
    value = std::strtoll(text.c_str(), &end, 10);
    return *end == '\0';
}

}  // namespace

bool DestinationReport::operator==(const DestinationReport &o) const {
    if (label != o.label || state != o.state || since != o.since || reason != o.reason ||
        nextTryMs != o.nextTryMs || owedCount != o.owedCount || owed.size() != o.owed.size())
        return false;
    for (size_t i = 0; i < owed.size(); ++i)
        if (owed[i].symbol != o.owed[i].symbol || owed[i].quantity != o.owed[i].quantity ||
            owed[i].since != o.owed[i].since)
            return false;
    return true;
}

bool StatusReport::clear() const {
    for (const DestinationReport &d : destinations)
        if (d.state != "up" || d.owedCount != 0) return false;
    return true;
}

bool StatusReport::operator==(const StatusReport &o) const {
    return pid == o.pid && process == o.process && loaded == o.loaded && config == o.config &&
           updated == o.updated && ended == o.ended && destinations == o.destinations;
}

std::string statusText(const StatusReport &r) {
    std::string text = std::string(kFirstLine) + "\r\n";
    text += "pid\t" + std::to_string(r.pid) + "\r\n";
    text += "process\t" + field(r.process) + "\r\n";
    text += "loaded\t" + field(r.loaded) + "\r\n";
    text += "config\t" + field(r.config) + "\r\n";
    text += "updated\t" + field(r.updated) + "\r\n";
    text += std::string("library\t") + (r.ended ? "unloaded" : "loaded") + "\r\n";
    for (const DestinationReport &d : r.destinations) {
        text += "destination\t" + field(d.label) + "\t" + field(d.state) + "\t" + field(d.since) + "\t" +
                field(d.reason) + "\t" + std::to_string(d.nextTryMs) + "\t" + std::to_string(d.owedCount) +
                "\r\n";
        for (const OwedPosition &p : d.owed)
            text += "owed\t" + field(p.symbol) + "\t" + std::to_string(p.quantity) + "\t" + field(p.since) +
                    "\r\n";
    }
    return text + "end\r\n";
}

std::optional<StatusReport> parseStatus(const std::string &text) {
    // Every line ends in CR LF, the first is the format's, the last "end".
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find("\r\n", start);
        if (end == std::string::npos) return std::nullopt;
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    if (lines.size() < 2 || lines.front() != kFirstLine || lines.back() != "end") return std::nullopt;
    StatusReport r;
    bool library = false;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        const std::string &line = lines[i];
        if (line.find_first_of("\r\n") != std::string::npos) return std::nullopt;
        const std::vector<std::string> f = fieldsOf(line);
        long long n = 0, m = 0;
        if (f.size() == 2 && f[0] == "pid" && number(f[1], n) && n >= 0 && n <= 0xFFFFFFFFLL) {
            r.pid = static_cast<uint32_t>(n);
        } else if (f.size() == 2 && f[0] == "process") {
            r.process = f[1];
        } else if (f.size() == 2 && f[0] == "loaded") {
            r.loaded = f[1];
        } else if (f.size() == 2 && f[0] == "config") {
            r.config = f[1];
        } else if (f.size() == 2 && f[0] == "updated") {
            r.updated = f[1];
        } else if (f.size() == 2 && f[0] == "library" && (f[1] == "loaded" || f[1] == "unloaded")) {
            r.ended = f[1] == "unloaded";
            library = true;
        } else if (f.size() == 7 && f[0] == "destination" && number(f[5], n) && number(f[6], m) && m >= 0) {
            DestinationReport d;
            d.label = f[1];
            d.state = f[2];
            d.since = f[3];
            d.reason = f[4];
            d.nextTryMs = n;
            d.owedCount = static_cast<size_t>(m);
            r.destinations.push_back(d);
        } else if (f.size() == 4 && f[0] == "owed" && !r.destinations.empty() && number(f[2], n)) {
            r.destinations.back().owed.push_back({f[1], static_cast<int32_t>(n), f[3]});
        } else {
            return std::nullopt;
        }
    }
    if (!library) return std::nullopt;
    return r;
}

std::string statusFileName(uint32_t pid) { return "Varnex-" + std::to_string(pid) + ".status"; }

std::optional<uint32_t> statusFilePid(const std::string &name) {
    const std::string head = "Varnex-", tail = ".status";
    if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
        name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return std::nullopt;
    const std::string digits = name.substr(head.size(), name.size() - head.size() - tail.size());
    long long pid = 0;
    if (digits.find_first_not_of("0123456789") != std::string::npos || !number(digits, pid) ||
        pid > 0xFFFFFFFFLL)
        return std::nullopt;
    return static_cast<uint32_t>(pid);
}

}  // namespace varnex
