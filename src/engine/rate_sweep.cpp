#include "engine/rate_sweep.h"

#include <charconv>

namespace echotest {

namespace {

constexpr std::uint32_t kLowestRate = 45;

std::optional<std::uint32_t> rateOf(std::string_view text)
{
    std::uint32_t rate = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), rate);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || rate < kLowestRate)
        return std::nullopt;
    return rate;
}

} // namespace

const std::vector<std::uint32_t> &standardRates()
{
    static const std::vector<std::uint32_t> rates = {
        50,     75,     110,    134,    150,    200,     300,     600,     1200,    1800,    2400,
        4800,   9600,   19200,  38400,  57600,  115200,  230400,  460800,  500000,  576000,  921600,
        1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};
    return rates;
}

std::optional<std::vector<std::uint32_t>> parseSweep(std::string_view text, std::string &error)
{
    const auto bad = [&error, text](const std::string &why) {
        error = "--sweep '" + std::string(text) + "': " + why;
        return std::nullopt;
    };
    std::vector<std::uint32_t> rates;
    if (const auto dots = text.find(".."); dots != std::string_view::npos) {
        const auto low = rateOf(text.substr(0, dots));
        const auto high = rateOf(text.substr(dots + 2));
        if (!low || !high)
            return bad("a span is two whole rates of at least 45, as in 300..921600");
        if (*low > *high)
            return bad("the span's first rate is above its last");
        for (const std::uint32_t rate : standardRates()) {
            if (rate >= *low && rate <= *high)
                rates.push_back(rate);
        }
        if (rates.empty())
            return bad("no standard rate lies in the span");
        return rates;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const auto rate = rateOf(text.substr(start, comma == std::string_view::npos ? comma : comma - start));
        if (!rate)
            return bad("a list is whole rates of at least 45 between commas, as in 9600,19200,115200");
        rates.push_back(*rate);
        if (comma == std::string_view::npos)
            return rates;
        start = comma + 1;
    }
}

} // namespace echotest
