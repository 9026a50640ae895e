#include "calculator/uart_family.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace calculator::uart {

namespace {

const std::array<const Family *, 11> &familyList()
{
    static const std::array<const Family *, 11> list = {
        &avrFamily(),   &avrDxFamily(), &stm32Family(),  &picFamily(),   &uart16550Family(), &ftdiFamily(),
        &ftdiHFamily(), &ch340Family(), &cp210xFamily(), &esp32Family(), &nrf52Family(),
    };
    return list;
}

} // namespace

std::span<const Family *const> families() { return familyList(); }

const Family *findFamily(std::string_view name)
{
    for (const Family *family : familyList())
        if (family->name == name)
            return family;
    return nullptr;
}

std::string familyNames()
{
    std::string names;
    for (const Family *family : familyList()) {
        if (!names.empty())
            names += ", ";
        names += family->name;
    }
    return names;
}

std::optional<std::size_t> bestSetting(std::span<const Setting> settings)
{
    std::optional<std::size_t> best;
    for (std::size_t i = 0; i < settings.size(); ++i)
        if (!best || std::fabs(settings[i].errorPercent) < std::fabs(settings[*best].errorPercent))
            best = i;
    return best;
}

Judgement judge(double deviationPercent, double tolerancePercent)
{
    Judgement judgement;
    judgement.marginPercent = tolerancePercent - std::fabs(deviationPercent);
    if (judgement.marginPercent < 0.0)
        judgement.verdict = Verdict::Out;
    else if (judgement.marginPercent < tolerancePercent / 4.0)
        judgement.verdict = Verdict::Marginal;
    else
        judgement.verdict = Verdict::Ok;
    return judgement;
}

std::string_view verdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Ok: return "OK";
    case Verdict::Marginal: return "marginal";
    case Verdict::Out: break;
    }
    return "out";
}

namespace detail {

Tolerance sampledTolerance(int oversampling, const echotest::Frame &frame, std::string_view source)
{
    // The receiver finds the start edge up to one sample late and reads
    // every later bit in its middle; the stop bit's middle lies after the
    // start bit, the data and parity bits and half the stop bit.  The two
    // clocks may drift apart by at most half a bit, less that sample, up to
    // there.
    const int dataAndParity = frame.dataBits + (frame.parity == echotest::Frame::Parity::None ? 0 : 1);
    const double bitsToStopSample = 1.0 + dataAndParity + 0.5;
    Tolerance tolerance;
    tolerance.limit = (0.5 - 1.0 / oversampling) / bitsToStopSample * 100.0;
    tolerance.recommended = tolerance.limit / 2.0;
    tolerance.source = std::string(source);
    return tolerance;
}

Setting makeSetting(std::string mode, std::vector<Field> fields, double rate, double baud, int oversampling,
                    const echotest::Frame &frame)
{
    Setting setting;
    setting.mode = std::move(mode);
    setting.fields = std::move(fields);
    setting.rate = rate;
    setting.errorPercent = (rate / baud - 1.0) * 100.0;
    setting.oversampling = oversampling;
    setting.tolerance = sampledTolerance(oversampling, frame,
                                         "derived from " + std::to_string(oversampling) + "x sampling");
    return setting;
}

std::string hex(unsigned long value, int digits)
{
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*lX", digits, value);
    return text;
}

std::string decimal(double value, int decimals)
{
    // to_chars ignores the locale: always "." as the decimal separator.
    char text[400];
    const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    return std::string(text, end);
}

std::string trimmed(double value, int decimals)
{
    std::string result = decimal(value, decimals);
    // "78.125000" -> "78.125", "26.000" -> "26"
    if (result.find('.') != std::string::npos) {
        while (result.back() == '0')
            result.pop_back();
        if (result.back() == '.')
            result.pop_back();
    }
    return result;
}

std::optional<long long> nearestInRange(double value, long long lo, long long hi)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double rounded = std::round(value);
    if (rounded < static_cast<double>(lo) || rounded > static_cast<double>(hi))
        return std::nullopt;
    return static_cast<long long>(rounded);
}

} // namespace detail

} // namespace calculator::uart
