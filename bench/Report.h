// What the bench measured and the two ways it prints it: an aligned table
// (header line, then "name size value unit" rows) and JSON with the same rows.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct Row {
    std::string name;  // no spaces
    std::string size;  // "640x480", "64x64"
    double value = 0;
    std::string unit;  // no spaces
};

struct Report {
    std::string renderer;
    std::string glVersion;
    std::string buildType;
    unsigned cpus = 0;
    bool quick = false;
    std::vector<Row> rows;
};

// A JSON string literal, quotes included; also used for the table's header.
std::string quoted(const std::string& text);

std::string formatTable(const Report& report);
std::string formatJson(const Report& report);

// Middle value; the mean of the two middle ones for an even count; 0 if empty.
double median(std::vector<double> values);

}  // namespace bench
