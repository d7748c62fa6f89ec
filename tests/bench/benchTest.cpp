#include "bench/Report.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#ifndef HEAT2D_BENCH
#error "HEAT2D_BENCH must name the heat2d-bench executable"
#endif

namespace {

// ---- A strict JSON reader, enough to check what the bench writes ----------
struct Json {
    enum Kind { Null, Bool, Number, String, Array, Object } kind = Null;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    const Json& operator[](const std::string& key) const {
        for (const auto& member : members)
            if (member.first == key) return member.second;
        throw std::runtime_error("no member " + key);
    }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : s_(text) {}

    Json document() {
        Json value = read();
        skipSpace();
        if (i_ != s_.size()) fail("text after the value");
        return value;
    }

    std::string string() {
        expect('"');
        std::string out;
        while (true) {
            if (i_ >= s_.size()) fail("unterminated string");
            const char c = s_[i_++];
            if (c == '"') return out;
            if (static_cast<unsigned char>(c) < 0x20) fail("raw control character in string");
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) fail("unterminated escape");
            const char e = s_[i_++];
            switch (e) {
            case '"': case '\\': case '/': out += e; break;
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                if (i_ + 4 > s_.size()) fail("short \\u escape");
                const unsigned code = std::stoul(s_.substr(i_, 4), nullptr, 16);
                i_ += 4;
                if (code >= 0x80) fail("\\u escape beyond ASCII (not needed here)");
                out += static_cast<char>(code);
                break;
            }
            default: fail("bad escape");
            }
        }
    }

    size_t position() const { return i_; }

private:
    [[noreturn]] void fail(const std::string& why) const {
        throw std::runtime_error(why + " at offset " + std::to_string(i_));
    }
    void skipSpace() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\t' || s_[i_] == '\r')) ++i_;
    }
    void expect(char c) {
        skipSpace();
        if (i_ >= s_.size() || s_[i_] != c) fail(std::string("expected '") + c + "'");
        ++i_;
    }
    bool literal(const char* word) {
        const std::string w = word;
        if (s_.compare(i_, w.size(), w) != 0) return false;
        i_ += w.size();
        return true;
    }
    Json read() {
        skipSpace();
        if (i_ >= s_.size()) fail("missing value");
        Json value;
        const char c = s_[i_];
        if (c == '{') {
            value.kind = Json::Object;
            ++i_;
            skipSpace();
            if (i_ < s_.size() && s_[i_] == '}') return ++i_, value;
            do {
                skipSpace();
                std::string key = string();
                expect(':');
                value.members.emplace_back(key, read());
                skipSpace();
            } while (i_ < s_.size() && s_[i_] == ',' && ++i_);
            expect('}');
        } else if (c == '[') {
            value.kind = Json::Array;
            ++i_;
            skipSpace();
            if (i_ < s_.size() && s_[i_] == ']') return ++i_, value;
            do value.items.push_back(read());
            while (skipSpace(), i_ < s_.size() && s_[i_] == ',' && ++i_);
            expect(']');
        } else if (c == '"') {
            value.kind = Json::String;
            value.text = string();
        } else if (literal("true") || literal("false")) {
            value.kind = Json::Bool;
        } else if (literal("null")) {
            value.kind = Json::Null;
        } else {
            value.kind = Json::Number;
            size_t used = 0;
            const std::string rest = s_.substr(i_, 32);
            if (rest.empty() || !(rest[0] == '-' || std::isdigit(static_cast<unsigned char>(rest[0]))))
                fail("unexpected character");
            value.number = std::stod(rest, &used);
            i_ += used;
        }
        return value;
    }

    const std::string& s_;
    size_t i_ = 0;
};

// ---- The table: header line, then "name size value unit" rows ------------
struct Table {
    std::string renderer;
    std::vector<bench::Row> rows;
};

Table readTable(const std::string& text) {
    std::istringstream in(text);
    std::string header;
    std::getline(in, header);
    const std::string lead = "heat2d-bench renderer=";
    if (header.compare(0, lead.size(), lead) != 0) throw std::runtime_error("header: " + header);
    Table table;
    const std::string quotedPart = header.substr(lead.size());
    JsonReader reader(quotedPart);
    table.renderer = reader.string();
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        bench::Row row;
        std::string valueText, extra;
        if (!(fields >> row.name >> row.size >> valueText >> row.unit) || (fields >> extra))
            throw std::runtime_error("row: " + line);
        size_t used = 0;
        row.value = std::stod(valueText, &used);
        if (used != valueText.size()) throw std::runtime_error("value: " + line);
        table.rows.push_back(row);
    }
    return table;
}

std::vector<bench::Row> jsonRows(const Json& document) {
    std::vector<bench::Row> rows;
    for (const Json& item : document["rows"].items) {
        if (item["value"].kind != Json::Number) throw std::runtime_error("value not a number");
        rows.push_back({item["name"].text, item["size"].text, item["value"].number, item["unit"].text});
    }
    return rows;
}

std::string runCommand(const std::string& command, int* exitCode) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = pclose(pipe);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

std::string runBench(const std::string& arguments, int* exitCode) {
    return runCommand(std::string(HEAT2D_BENCH) + " " + arguments, exitCode);
}

// The rows a quick run must print, by name (heat steps also by grid) and unit.
using RowKeys = std::set<std::pair<std::string, std::string>>;
const RowKeys quickRows = {
    {"frame_rate", "frames/s"},          {"frame_heat_step", "us/frame"},
    {"frame_window_quad", "us/frame"},   {"frame_rate_text", "us/frame"},
    {"frame_swap", "us/frame"},          {"stamp_rate", "stamps/s"},
    {"stamp_cost_in_steps", "ratio"},    {"startup_window", "ms"},
    {"startup_first_frame", "ms"},       {"heat_step_gpu@64x64", "Mcells/s"},
    {"heat_step_cpu_ref@64x64", "Mcells/s"}, {"heat_step_gpu_vs_cpu@64x64", "ratio"},
    {"heat_step_gpu@256x256", "Mcells/s"},   {"heat_step_cpu_ref@256x256", "Mcells/s"},
    {"heat_step_gpu_vs_cpu@256x256", "ratio"},
    {"heat_program_instructions", "instructions"}, {"heat_program_temporaries", "temporaries"},
    {"copy_program_instructions", "instructions"}, {"copy_program_temporaries", "temporaries"},
    {"compile_heat_program", "ms"},      {"reload_latency", "ms"},
    {"reload_frame", "ms"},              {"reload_beyond_compile", "frames"},
    {"load_heat_program", "cpu_ms"},     {"load_multiply_chain", "cpu_ms"},
};

bool isCount(const std::string& unit) { return unit == "instructions" || unit == "temporaries"; }

// Each row once with a finite value, positive for the quick rows but counts
// (a program may need no temporaries); returns their keys.
RowKeys checkedRowKeys(const std::vector<bench::Row>& rows) {
    RowKeys seen;
    for (const bench::Row& row : rows) {
        const std::string key = row.name.rfind("heat_step_", 0) == 0 ? row.name + "@" + row.size : row.name;
        EXPECT_TRUE(seen.insert({key, row.unit}).second) << "twice: " << key;
        EXPECT_TRUE(std::isfinite(row.value) && row.value >= 0) << key << " = " << row.value;
        if (quickRows.count({key, row.unit}) && !isCount(row.unit)) {
            EXPECT_GT(row.value, 0) << key;
        }
    }
    return seen;
}

bool includesAll(const RowKeys& seen, const RowKeys& wanted) {
    return std::includes(seen.begin(), seen.end(), wanted.begin(), wanted.end());
}

}  // namespace

TEST(BenchReport, QuotedEscapesWhatJsonForbidsRaw) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"llvmpipe (LLVM 15.0.6, 256 bits)", "\"llvmpipe (LLVM 15.0.6, 256 bits)\""},
        {"say \"hi\"", "\"say \\\"hi\\\"\""},
        {"C:\\gpu", "\"C:\\\\gpu\""},
        {"two\nlines\tand tab", "\"two\\nlines\\tand tab\""},
        {std::string("bell\x07") + '\x1f', "\"bell\\u0007\\u001f\""},
        {"caf\xc3\xa9", "\"caf\xc3\xa9\""},  // UTF-8 passes through
        {"", "\"\""},
    };
    for (const auto& c : cases) EXPECT_EQ(bench::quoted(c.in), c.out) << c.in;
}

TEST(BenchReport, MedianOfOddEvenAndEmpty) {
    const struct {
        std::vector<double> values;
        double expected;
    } cases[] = {{{}, 0}, {{7}, 7}, {{5, 1, 3}, 3}, {{4, 1, 3, 2}, 2.5}, {{2, 2, 9}, 2}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(bench::median(c.values), c.expected);
}

// Both formats read back to the same renderer and rows, including values
// across the magnitudes the bench prints and a renderer name that needs quoting.
TEST(BenchReport, TableAndJsonReadBackTheSameRows) {
    bench::Report report;
    report.renderer = "Weird \"GPU\" \\ (rev 2)";
    report.glVersion = "4.5";
    report.buildType = "Debug";
    report.cpus = 2;
    report.rows = {{"frame_rate", "640x480", 812.34, "frames/s"},
                   {"heat_step_gpu", "2048x2048", 1234567.0, "Mcells/s"},
                   {"stamp_cost_in_steps", "64x64", 0.01234, "ratio"},
                   {"startup_first_frame", "640x480", 12.5, "ms"}};
    const Table table = readTable(bench::formatTable(report));
    const Json json = JsonReader(bench::formatJson(report)).document();
    EXPECT_EQ(table.renderer, report.renderer);
    EXPECT_EQ(json["renderer"].text, report.renderer);
    const std::vector<bench::Row> fromJson = jsonRows(json);
    ASSERT_EQ(table.rows.size(), report.rows.size());
    ASSERT_EQ(fromJson.size(), report.rows.size());
    for (size_t i = 0; i < report.rows.size(); ++i) {
        const bench::Row& want = report.rows[i];
        for (const bench::Row* got : {&table.rows[i], &fromJson[i]}) {
            EXPECT_EQ(got->name, want.name);
            EXPECT_EQ(got->size, want.size);
            EXPECT_EQ(got->unit, want.unit);
            // Three significant figures in the table, six in JSON.
            EXPECT_NEAR(got->value, want.value, std::fabs(want.value) * 5e-3) << want.name;
        }
    }
}

TEST(BenchRun, QuickRunPrintsEveryRowInBothFormats) {
    int tableExit = -1, jsonExit = -1;
    const std::string tableText = runBench("--quick", &tableExit);
    const std::string jsonText = runBench("--quick --json", &jsonExit);
    ASSERT_EQ(tableExit, 0) << tableText;
    ASSERT_EQ(jsonExit, 0) << jsonText;

    Table table;
    ASSERT_NO_THROW(table = readTable(tableText)) << tableText;
    Json json;
    ASSERT_NO_THROW(json = JsonReader(jsonText).document()) << jsonText;
    std::vector<bench::Row> fromJson;
    ASSERT_NO_THROW(fromJson = jsonRows(json)) << jsonText;

    EXPECT_FALSE(table.renderer.empty());
    EXPECT_EQ(json["renderer"].text, table.renderer);
    EXPECT_EQ(json["mode"].text, "quick");

    // Other rows may come and go; these are the program's own costs.
    for (const auto* rows : {&table.rows, &fromJson}) EXPECT_TRUE(includesAll(checkedRowKeys(*rows), quickRows));
    ASSERT_EQ(table.rows.size(), fromJson.size());
    for (size_t i = 0; i < table.rows.size(); ++i) {
        EXPECT_EQ(table.rows[i].name, fromJson[i].name);
        EXPECT_EQ(table.rows[i].size, fromJson[i].size);
    }
}

// The shipped programs as the compiler emits them: the heat step within
// 1.10 x the 23 instructions of a hand-written one, the copy a single TEX
// straight into the result, the compile well under a frame's worth, and the
// slowest program within the limits loaded in well under 2 s of CPU.
TEST(BenchRun, ShippedProgramsCompileWithinTheirBoundsAndQuickly) {
    int exitCode = -1;
    const std::string text = runBench("--quick --json", &exitCode);
    ASSERT_EQ(exitCode, 0) << text;
    std::vector<bench::Row> rows;
    ASSERT_NO_THROW(rows = jsonRows(JsonReader(text).document())) << text;
    const struct {
        const char* name;
        const char* size;
        double least, most;
    } bounds[] = {
        {"heat_program_instructions", "HeatShader.cg", 1, 25},
        {"heat_program_temporaries", "HeatShader.cg", 1, 25},
        {"copy_program_instructions", "copy", 1, 1},
        {"copy_program_temporaries", "copy", 0, 0},
        {"compile_heat_program", "HeatShader.cg", 1e-6, 100},
        // A closed save is taken at the next frame, not after the watch's
        // quarter second of quiet.
        {"reload_beyond_compile", "640x480", 0, 10},
        // The slowest program to load within the limits, well within 2 s of CPU.
        {"load_multiply_chain", "256_instructions", 1, 2000},
    };
    for (const auto& b : bounds) {
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const bench::Row& r) { return r.name == b.name; });
        ASSERT_NE(row, rows.end()) << "no row " << b.name << "\n" << text;
        EXPECT_EQ(row->size, b.size) << b.name;
        EXPECT_GE(row->value, b.least) << b.name;
        EXPECT_LE(row->value, b.most) << b.name;
        if (isCount(row->unit)) {
            EXPECT_EQ(row->value, std::round(row->value)) << b.name << " is a count";
        }
    }
}

TEST(BenchRun, UnknownOptionIsAUsageErrorWithNothingMeasured) {
    int exitCode = -1;
    const std::string out = runBench("--frames=3 2>/dev/null", &exitCode);
    EXPECT_EQ(exitCode, 2);
    EXPECT_EQ(out, "");
}

TEST(BenchScript, quickRunReusesTheBuildTreeAndConfiguresNoOther) {
    // A root with the scripts and the tree test.sh builds as its build/: the
    // script can only succeed there by building in that tree, and anything
    // else it made would show up beside them.
    char root[] = "/tmp/heat2d-bench-script-XXXXXX";
    ASSERT_NE(mkdtemp(root), nullptr);
    const std::string bench = HEAT2D_BENCH, tree = bench.substr(0, bench.rfind('/'));
    int status = -1;
    runCommand("cp -r '" HEAT2D_SOURCE_DIR "/scripts' '" + std::string(root) + "/' && ln -s '" + tree + "' '" +
                   root + "/build'",
               &status);
    ASSERT_EQ(status, 0);

    int exitCode = -1;
    const std::string out = runCommand("bash '" + std::string(root) + "/scripts/bench.sh' --quick --json 2>/dev/null", &exitCode);
    const std::string entries = runCommand("ls -A '" + std::string(root) + "'", &status);
    runCommand("rm -rf '" + std::string(root) + "'", &status);
    EXPECT_EQ(exitCode, 0) << out;
    EXPECT_EQ(entries, "build\nscripts\n");
    Json json;
    ASSERT_NO_THROW(json = JsonReader(out).document()) << out;
    EXPECT_EQ(json["mode"].text, "quick");
    std::vector<bench::Row> rows;
    ASSERT_NO_THROW(rows = jsonRows(json)) << out;
    EXPECT_TRUE(includesAll(checkedRowKeys(rows), quickRows));
}
