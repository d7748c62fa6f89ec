#include "tests/support/ApiTrace.h"

#include "tests/support/AppRun.h"

#include <sstream>

std::vector<std::string> apitraceCalls(const std::string& traceFile, std::string* error) {
    int status = 0;
    const std::string dump =
        runCommand("apitrace dump --call-nos=no --color=never --multiline=no '" + traceFile + "' 2>&1", &status);
    std::vector<std::string> calls;
    if (status != 0) {
        if (error) *error = dump;
        return calls;
    }
    std::istringstream in(dump);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line.rfind("//", 0) != 0) calls.push_back(line);
    return calls;
}
