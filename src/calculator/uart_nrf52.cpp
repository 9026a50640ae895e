// Nordic nRF52 UART: the BAUDRATE register takes the values of a fixed
// table, and the rate each gives differs from its name (115200 runs at
// 115942).  A request gets the entry nearest to it.  The receiver's
// sampling is not documented; 16x is assumed.
// Source: nRF52840 datasheet (Nordic PS), UART chapter, register BAUDRATE
// (its values and their "actual rate").
#include "calculator/uart_family.h"

#include <array>
#include <cmath>

namespace calculator::uart {

namespace {

struct Entry
{
    double nominal;
    unsigned long value;
    double actual;
};

constexpr std::array<Entry, 18> kTable = {{
    {1200, 0x0004F000, 1205},       {2400, 0x0009D000, 2396},     {4800, 0x0013B000, 4808},
    {9600, 0x00275000, 9598},       {14400, 0x003B0000, 14414},   {19200, 0x004EA000, 19208},
    {28800, 0x0075F000, 28829},     {31250, 0x00800000, 31250},   {38400, 0x009D5000, 38462},
    {56000, 0x00E50000, 55944},     {57600, 0x00EBF000, 57762},   {76800, 0x013A9000, 76923},
    {115200, 0x01D7E000, 115942},   {230400, 0x03AFB000, 231884}, {250000, 0x04000000, 250000},
    {460800, 0x075F7000, 470588},   {921600, 0x0EBED000, 941176}, {1000000, 0x10000000, 1000000},
}};

std::vector<Setting> nrf52Settings(double, double baud, const echotest::Frame &frame)
{
    std::vector<Setting> settings;
    if (!std::isfinite(baud))
        return settings;
    const Entry *nearest = &kTable.front();
    for (const Entry &entry : kTable)
        if (std::fabs(entry.nominal - baud) < std::fabs(nearest->nominal - baud))
            nearest = &entry;
    settings.push_back(detail::makeSetting(
        "", {{"BAUDRATE", detail::hex(nearest->value, 8)}, {"named", detail::trimmed(nearest->nominal, 0)}},
        nearest->actual, baud, 16, frame));
    return settings;
}

} // namespace

const Family &nrf52Family()
{
    static const Family family{
        "nrf52", "Nordic nRF52 UART (BAUDRATE table)",
        "nRF52840 datasheet (Nordic PS), UART register BAUDRATE",
        ClockKind::Internal, 0.0, 0.0, false, nrf52Settings};
    return family;
}

} // namespace calculator::uart
