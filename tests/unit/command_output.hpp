// Running a shell command from a test (mostly a Python oracle) and reading what it prints.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace zel::test {

// The command's whole standard output; its exit status in `status` when asked (-1 when the
// command could not be started).
inline std::string command_output(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) {
        if (status) *status = -1;
        return out;
    }
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) out.append(buffer, n);
    int s = ::pclose(p);
    if (status) *status = s;
    return out;
}

// The lines of the command's output that end with a line feed, without it.
inline std::vector<std::string> command_lines(const std::string& command, int* status = nullptr) {
    std::string out = command_output(command, status);
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(out.substr(start, end - start));
    return lines;
}

} // namespace zel::test
