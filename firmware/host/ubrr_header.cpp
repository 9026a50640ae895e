// ubrr-gen: writes the header that gives the echo firmware its UBRR value and
// U2X bit, taken from the calculator's own arithmetic so that the firmware
// runs at exactly the rate the calculator window shows for the same clock.
//
//   ubrr-gen <clock in Hz> <baud rate> <output header>
//
// Exit status 0 when the header was written (with a #warning in it above 2 %
// error), 1 when the rate cannot be made from the clock within 5 %, 2 on
// wrong usage or an unwritable file.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "calculator/ubrr.h"

namespace {

// avr-libc's <util/setbaud.h> warns above 2 % by default; so do we.
constexpr float kTolerancePercent = 2.0f;
// No UART pair receives reliably this far apart: a header for it would build
// firmware that cannot work, so none is written.
constexpr float kUnusablePercent = 5.0f;

std::string headerText(const std::string &clock, const std::string &baud, const calculator::ModeResult &mode,
                       bool doubleSpeed)
{
    std::ostringstream out;
    out << "/* Written by ubrr-gen for a " << clock << " Hz clock at " << baud << " baud; do not edit.\n"
        << " * Obtained rate " << mode.rateText << " baud, error " << mode.errorText << ". */\n"
        << "#ifndef ECHO_UBRR_CONFIG_H\n"
        << "#define ECHO_UBRR_CONFIG_H\n"
        << "#define ECHO_CLOCK_HZ " << clock << "UL\n"
        << "#define ECHO_BAUD " << baud << "UL\n"
        << "#define ECHO_UBRR_VALUE " << mode.registerValue << "u\n"
        << "#define ECHO_USE_U2X " << (doubleSpeed ? 1 : 0) << "\n";
    if (std::fabs(mode.errorPercent) > kTolerancePercent)
        out << "#warning \"baud rate error " << mode.errorText << " is above " << kTolerancePercent << " %\"\n";
    out << "#endif\n";
    return out.str();
}

bool writeIfChanged(const std::string &path, const std::string &text)
{
    // An unchanged header keeps its time stamp, so the firmware is not rebuilt.
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream old;
        old << in.rdbuf();
        if (in && old.str() == text)
            return true;
    }
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush())
            return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

bool isWholeNumber(const std::string &text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4 || !isWholeNumber(argv[1]) || !isWholeNumber(argv[2])) {
        std::cerr << "usage: ubrr-gen <clock in Hz> <baud rate> <output header>\n";
        return 2;
    }
    const std::string clock = argv[1];
    const std::string baud = argv[2];
    const calculator::CalcResult result = calculator::calculate(clock, baud);
    if (result.status != calculator::CalcStatus::Ok) {
        std::cerr << "ubrr-gen: " << baud << " baud cannot be made from " << clock << " Hz\n";
        return 1;
    }
    const bool doubleSpeed = result.selectedLine % 2 == 1;
    const calculator::ModeResult &mode = doubleSpeed ? result.doubleSpeed : result.normal;
    if (!mode.inRange || mode.registerValue < 0) {
        std::cerr << "ubrr-gen: " << baud << " baud is out of UBRR's range at " << clock << " Hz\n";
        return 1;
    }
    if (std::fabs(mode.errorPercent) > kUnusablePercent) {
        std::cerr << "ubrr-gen: the nearest rate to " << baud << " baud at " << clock << " Hz is " << mode.rateText
                  << " (" << mode.errorText << "), too far off for any receiver\n";
        return 1;
    }
    if (!writeIfChanged(argv[3], headerText(clock, baud, mode, doubleSpeed))) {
        std::cerr << "ubrr-gen: cannot write " << argv[3] << '\n';
        return 2;
    }
    return 0;
}
