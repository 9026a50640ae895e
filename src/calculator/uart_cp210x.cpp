// Silicon Labs CP2101/CP2102/CP2103: the chip maps every requested rate to
// one of a fixed list, each serving the requests up to a limit; requests
// above 1053257 baud give an undefined rate.  The actual rate of each entry
// is taken as the entry itself.  The CP2102N and CP2104 onwards make most
// rates directly; this is the table of the first parts.  The receiver's
// sampling is not documented; 16x is assumed.
// Source: Silicon Labs application note AN205 "CP210x Baud Rate Support",
// Table 1.
#include "calculator/uart_family.h"

#include <array>

namespace calculator::uart {

namespace {

struct Entry
{
    double rate;
    double highest; // the highest request mapped to it
};

constexpr std::array<Entry, 29> kTable = {{
    {300, 300},         {600, 600},         {1200, 1200},       {1800, 1800},       {2400, 2400},
    {4000, 4000},       {4800, 4803},       {7200, 7207},       {9600, 9612},       {14400, 14428},
    {16000, 16062},     {19200, 19250},     {28800, 28912},     {38400, 38601},     {51200, 51558},
    {56000, 56280},     {57600, 58053},     {64000, 64111},     {76800, 77608},     {115200, 117028},
    {128000, 129347},   {153600, 156868},   {230400, 237832},   {250000, 254234},   {256000, 273066},
    {460800, 491520},   {500000, 567138},   {576000, 670254},   {921600, 1053257},
}};

std::vector<Setting> cp210xSettings(double, double baud, const echotest::Frame &frame)
{
    std::vector<Setting> settings;
    for (const Entry &entry : kTable)
        if (baud <= entry.highest) {
            settings.push_back(detail::makeSetting(
                "", {{"table rate", detail::trimmed(entry.rate, 0)}}, entry.rate, baud, 16, frame));
            break;
        }
    return settings;
}

} // namespace

const Family &cp210xFamily()
{
    static const Family family{
        "cp210x", "Silicon Labs CP2101/2/3 (fixed rate table)",
        "Silicon Labs AN205 CP210x Baud Rate Support, Table 1",
        ClockKind::Internal, 0.0, 0.0, false, cp210xSettings};
    return family;
}

} // namespace calculator::uart
