#pragma once

#include <span>
#include <string>
#include <vector>

#include "calculator/uart_family.h"

// Two ends of a serial line, each a UART family at its clock, and the
// clocks that suit a family best.  Qt-free; the command line only prints.
namespace calculator::uart {

// One end as the user names it: a family, its clock (0: the family's
// default) and optionally one of its modes ("U2X=0"; empty: the mode
// nearest to the request, as the calculator chooses).
struct EndChoice
{
    const Family *family = nullptr;
    double clock = 0.0;
    std::string mode;
};

struct End
{
    const Family *family = nullptr;
    double clock = 0.0;
    Setting setting;
};

// What one end's receiver sees: the partner's rate against its own.
struct Reception
{
    double deviationPercent = 0.0; // partner / own - 1, percent
    double tolerancePercent = 0.0; // the receiver's recommended figure
    Judgement judgement;
};

// A change that makes a link better, and the verdict it reaches.
struct Fix
{
    char end = 'A';         // 'A' or 'B'
    std::string kind;       // "mode", "divisor", "crystal"
    std::string text;       // for people: "U2X=1 instead of U2X=0"
    End changed;            // the end as it would be
    Judgement judgement;    // of the whole link after the change
};

struct LinkResult
{
    std::string error; // not empty when an end cannot make the rate; the rest is then empty
    double baud = 0.0;
    echotest::Frame frame;
    End a;
    End b;
    double mismatchPercent = 0.0; // a / b - 1, percent
    Reception aReceives;          // A hearing B
    Reception bReceives;          // B hearing A
    Judgement overall;            // the worse of the two
    std::vector<Fix> fixes;       // only when the link is not OK
};

// Judges a link between the two ends at `baud`; when it is not OK, looks
// for fixes: another mode of either end, a divisor aimed at the other end's
// true rate, and for a crystal-clocked end the nearest of `crystals` that
// makes the link OK.
LinkResult analyseLink(const EndChoice &a, const EndChoice &b, double baud, const echotest::Frame &frame,
                       std::span<const double> crystals);

// Standard crystal and oscillator frequencies in Hz, ascending: the
// crystals `clocks` ranks and `link` proposes.
std::span<const double> standardCrystals();

struct ClockRow
{
    double clock = 0.0;
    std::vector<Setting> settings; // the nearest setting for each rate asked, in order
    double worstErrorPercent = 0.0; // largest absolute error over the rates
    Judgement worst;                // the least margin over the rates
};

// Every clock of `clocks` the family can take (up to its maxClock) that
// reaches all `bauds`, best first: by the worst absolute error, then the
// faster clock.
std::vector<ClockRow> rankClocks(const Family &family, std::span<const double> bauds, const echotest::Frame &frame,
                                 std::span<const double> clocks);

} // namespace calculator::uart
