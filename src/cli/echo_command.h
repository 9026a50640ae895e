#pragma once
#include <iosfwd>
#include <string>

namespace CLI {
class App;
}

namespace cli {

struct EchoOptions {
    int port = 1;            // COM1..COM4 through the serial layer's mapping
    std::string device;      // any device instead (a tty path, or COM7 on Windows)
    std::string baud = "9600";
    bool lowerCase = false;  // a lower-case echo passes (the window's check box)
    bool json = false;
    int runs = 1;            // as a held Enter key would start them
    bool progress = true;    // live progress on standard error when it is a terminal
};

// rebounce-cli echo.
void addEchoCommand(CLI::App &app, int &exitStatus);

// Runs the echo test options.runs times on the window's engine.  Verdicts
// and JSON go to out, messages and progress to err.  Returns an ExitStatus.
int runEcho(const EchoOptions &options, std::ostream &out, std::ostream &err);

// Bytes as JSON-safe UTF-8: each byte is taken as the code point of the
// same value, so any received data round-trips through a JSON parser.
std::string bytesAsUtf8(const std::string &bytes);

} // namespace cli
