#pragma once
// Runs a shell command and collects its standard output and exit status.

#include <cstdio>
#include <string>
#include <sys/wait.h>

namespace firmware::testing {

struct ProcessOutput
{
    int exitCode = -1;
    std::string out;
};

inline ProcessOutput runCommand(const std::string &command)
{
    ProcessOutput result;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.out.append(buffer, n);
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

inline std::string quoted(const std::string &text) { return "'" + text + "'"; }

} // namespace firmware::testing
