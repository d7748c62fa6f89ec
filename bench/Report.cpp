#include "bench/Report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace bench {

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

namespace {

// Three significant figures at least, never an exponent: rates reach 1e9.
std::string readable(double value) {
    const double magnitude = std::fabs(value);
    int decimals = magnitude >= 100 ? 0 : magnitude >= 10 ? 1 : 2;
    if (magnitude > 0 && magnitude < 1) decimals = std::min(2 - static_cast<int>(std::floor(std::log10(magnitude))), 12);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string header(const Report& report) {
    return "heat2d-bench renderer=" + quoted(report.renderer) + " gl=" + quoted(report.glVersion) +
           " build=" + quoted(report.buildType) + " cpus=" + std::to_string(report.cpus) +
           " mode=" + (report.quick ? "quick" : "full");
}

}  // namespace

std::string formatTable(const Report& report) {
    size_t nameWidth = 4, sizeWidth = 4, valueWidth = 5;
    for (const Row& row : report.rows) {
        nameWidth = std::max(nameWidth, row.name.size());
        sizeWidth = std::max(sizeWidth, row.size.size());
        valueWidth = std::max(valueWidth, readable(row.value).size());
    }
    std::string out = header(report) + "\n";
    for (const Row& row : report.rows) {
        char line[512];
        std::snprintf(line, sizeof line, "%-*s  %-*s  %*s  %s\n", static_cast<int>(nameWidth), row.name.c_str(),
                      static_cast<int>(sizeWidth), row.size.c_str(), static_cast<int>(valueWidth),
                      readable(row.value).c_str(), row.unit.c_str());
        out += line;
    }
    return out;
}

std::string formatJson(const Report& report) {
    std::string out = "{\n";
    out += "  \"renderer\": " + quoted(report.renderer) + ",\n";
    out += "  \"gl_version\": " + quoted(report.glVersion) + ",\n";
    out += "  \"build\": " + quoted(report.buildType) + ",\n";
    out += "  \"cpus\": " + std::to_string(report.cpus) + ",\n";
    out += std::string("  \"mode\": ") + (report.quick ? "\"quick\"" : "\"full\"") + ",\n";
    out += "  \"rows\": [";
    for (size_t i = 0; i < report.rows.size(); ++i) {
        const Row& row = report.rows[i];
        char value[64];
        // JSON has no NaN or infinity; the runner never lets one through.
        std::snprintf(value, sizeof value, "%.6g", std::isfinite(row.value) ? row.value : 0.0);
        out += i ? ",\n    " : "\n    ";
        out += "{\"name\": " + quoted(row.name) + ", \"size\": " + quoted(row.size) + ", \"value\": " + value +
               ", \"unit\": " + quoted(row.unit) + "}";
    }
    out += report.rows.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

double median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace bench
