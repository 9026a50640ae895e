#include "app/command_line.h"

#include <ostream>
#include <string_view>

#include "rebounce_version.h"

namespace startup {

std::string helpText()
{
    return "Usage: rebounce [OPTIONS]\n"
           "Rebounce Test: checks a serial port with a 1000-byte echo test through an echo plug\n"
           "or a board that returns every byte, and calculates AVR baud-rate settings.\n"
           "rebounce-cli runs the same echo test and calculator from a terminal.\n"
           "\n"
           "Options:\n"
           "  --device PATH   Start with this serial device chosen, e.g. /dev/ttyUSB0, or a port\n"
           "                  on another machine served over RFC 2217: rfc2217://HOST:PORT\n"
           "  -h, --help      Print this help message and exit\n"
           "  --version       Print the version and exit\n"
           "Qt's own options (-platform, -style, ...) are accepted as well.\n"
           "\n"
           "Environment:\n"
           "  REBOUNCE_COMn   The device that port n (1 to 4) means; /dev/ttyS0 to /dev/ttyS3 without it\n";
}

std::string versionText()
{
    return std::string("rebounce (Rebounce Test) ") + rebounce::kVersion + "\n" + rebounce::kCopyrightNotice;
}

std::optional<int> answerInfoRequest(int argc, const char *const *argv, std::ostream &out)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--")
            break;
        if (argument == "--help" || argument == "-h") {
            out << helpText();
            return 0;
        }
        if (argument == "--version") {
            out << versionText();
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace startup
