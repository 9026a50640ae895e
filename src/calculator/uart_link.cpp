#include "calculator/uart_link.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>

namespace calculator::uart {

namespace {

// "BRGH=1 BRG16=1", "brgh=1,brg16=1" and "BRGH=1BRG16=1" name the same mode.
std::string modeKey(std::string_view mode)
{
    std::string key;
    for (const char c : mode)
        if (c != ' ' && c != ',')
            key += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return key;
}

double clockOf(const EndChoice &choice)
{
    return choice.clock > 0.0 ? choice.clock : choice.family->defaultClock;
}

std::optional<Setting> settingFor(const Family &family, double clock, double baud, const echotest::Frame &frame,
                                  const std::string &mode)
{
    const std::vector<Setting> settings = family.settings(clock, baud, frame);
    if (mode.empty()) {
        const auto best = bestSetting(settings);
        return best ? std::optional<Setting>(settings[*best]) : std::nullopt;
    }
    for (const Setting &setting : settings)
        if (modeKey(setting.mode) == modeKey(mode))
            return setting;
    return std::nullopt;
}

Reception receive(const Setting &own, const Setting &partner)
{
    Reception reception;
    reception.deviationPercent = (partner.rate / own.rate - 1.0) * 100.0;
    reception.tolerancePercent = own.tolerance.recommended;
    reception.judgement = judge(reception.deviationPercent, reception.tolerancePercent);
    return reception;
}

Judgement linkJudgement(const Setting &a, const Setting &b)
{
    const Judgement aHears = receive(a, b).judgement;
    const Judgement bHears = receive(b, a).judgement;
    return aHears.marginPercent <= bHears.marginPercent ? aHears : bHears;
}

bool better(const Judgement &candidate, const Judgement &current)
{
    return static_cast<int>(candidate.verdict) < static_cast<int>(current.verdict);
}

std::string describe(const Setting &setting)
{
    std::string text = setting.mode.empty() ? std::string() : setting.mode + " ";
    for (const Field &field : setting.fields)
        text += field.name + " " + field.value + ", ";
    return text + "rate " + detail::decimal(setting.rate, 2);
}

std::string megahertz(double clock)
{
    return detail::trimmed(clock / 1e6, 6) + " MHz";
}

void findFixes(LinkResult &result, std::span<const double> crystals)
{
    for (const char which : {'A', 'B'}) {
        const End &end = which == 'A' ? result.a : result.b;
        const End &other = which == 'A' ? result.b : result.a;
        const auto judged = [&](const Setting &setting) {
            return which == 'A' ? linkJudgement(setting, other.setting) : linkJudgement(other.setting, setting);
        };
        const auto add = [&](std::string kind, std::string text, double clock, const Setting &setting) {
            const Judgement judgement = judged(setting);
            if (better(judgement, result.overall))
                result.fixes.push_back({which, std::move(kind), std::move(text), {end.family, clock, setting}, judgement});
        };

        // Another mode at the same clock.
        for (const Setting &setting : end.family->settings(end.clock, result.baud, result.frame))
            if (setting.mode != end.setting.mode)
                add("mode", setting.mode + " instead of " + end.setting.mode + ": " + describe(setting), end.clock,
                    setting);

        // A divisor aimed at the rate the other end really runs at.
        if (const auto aimed = settingFor(*end.family, end.clock, other.setting.rate, result.frame, end.setting.mode)) {
            Setting setting = *aimed;
            setting.errorPercent = (setting.rate / result.baud - 1.0) * 100.0;
            if (setting.fields != end.setting.fields)
                add("divisor", "aim at the other end's " + detail::decimal(other.setting.rate, 2) + " baud: " + describe(setting),
                    end.clock, setting);
        }

        // The nearest standard crystal that makes the link OK.
        if (end.family->clockKind != ClockKind::Crystal)
            continue;
        std::optional<Fix> nearest;
        for (const double crystal : crystals) {
            if (crystal == end.clock || (end.family->maxClock > 0.0 && crystal > end.family->maxClock))
                continue;
            for (const Setting &setting : end.family->settings(crystal, result.baud, result.frame)) {
                const Judgement judgement = judged(setting);
                if (judgement.verdict != Verdict::Ok)
                    continue;
                if (!nearest || std::fabs(crystal - end.clock) < std::fabs(nearest->changed.clock - end.clock)
                    || (crystal == nearest->changed.clock && judgement.marginPercent > nearest->judgement.marginPercent))
                    nearest = Fix{which, "crystal", "fit " + megahertz(crystal) + ": " + describe(setting),
                                  {end.family, crystal, setting}, judgement};
            }
        }
        if (nearest && better(nearest->judgement, result.overall))
            result.fixes.push_back(*nearest);
    }
}

} // namespace

LinkResult analyseLink(const EndChoice &a, const EndChoice &b, double baud, const echotest::Frame &frame,
                       std::span<const double> crystals)
{
    LinkResult result;
    result.baud = baud;
    result.frame = frame;
    const auto settingA = settingFor(*a.family, clockOf(a), baud, frame, a.mode);
    const auto settingB = settingFor(*b.family, clockOf(b), baud, frame, b.mode);
    if (!settingA || !settingB) {
        const EndChoice &failed = settingA ? b : a;
        result.error = std::string(settingA ? "B" : "A") + " (" + std::string(failed.family->name) + ") cannot make "
                       + detail::trimmed(baud, 3) + " baud"
                       + (failed.mode.empty() ? std::string() : " in mode " + failed.mode);
        return result;
    }
    result.a = {a.family, clockOf(a), *settingA};
    result.b = {b.family, clockOf(b), *settingB};
    result.mismatchPercent = (settingA->rate / settingB->rate - 1.0) * 100.0;
    result.aReceives = receive(*settingA, *settingB);
    result.bReceives = receive(*settingB, *settingA);
    result.overall = result.aReceives.judgement.marginPercent <= result.bReceives.judgement.marginPercent
                         ? result.aReceives.judgement
                         : result.bReceives.judgement;
    if (result.overall.verdict != Verdict::Ok)
        findFixes(result, crystals);
    return result;
}

std::span<const double> standardCrystals()
{
    // Common HC-49 crystals and oscillator cans.  The "baud-rate" crystals
    // (multiples of 1.8432 MHz: 3.6864, 7.3728, 11.0592, 14.7456, 18.432,
    // 22.1184, 29.4912, 36.864 MHz) divide exactly to the usual rates.
    static constexpr std::array<double, 38> kCrystals = {
        1000000,  1843200,  2000000,  2457600,  3276800,  3579545,  3686400,  4000000,  4096000,  4194304,
        4915200,  6000000,  6144000,  7372800,  8000000,  9216000,  9830400,  10000000, 11059200, 12000000,
        12288000, 14318180, 14745600, 16000000, 18432000, 19660800, 20000000, 22118400, 24000000, 24576000,
        25000000, 26000000, 27000000, 29491200, 32000000, 36864000, 40000000, 48000000,
    };
    return kCrystals;
}

std::vector<ClockRow> rankClocks(const Family &family, std::span<const double> bauds, const echotest::Frame &frame,
                                 std::span<const double> clocks)
{
    std::vector<ClockRow> rows;
    for (const double clock : clocks) {
        if (clock <= 0.0 || (family.maxClock > 0.0 && clock > family.maxClock))
            continue;
        ClockRow row;
        row.clock = clock;
        bool reachesAll = !bauds.empty();
        for (const double baud : bauds) {
            const std::vector<Setting> settings = family.settings(clock, baud, frame);
            const auto best = bestSetting(settings);
            if (!best) {
                reachesAll = false;
                break;
            }
            const Setting &setting = settings[*best];
            const Judgement judgement = judge(setting.errorPercent, setting.tolerance.recommended);
            if (row.settings.empty() || judgement.marginPercent < row.worst.marginPercent)
                row.worst = judgement;
            row.worstErrorPercent = std::max(row.worstErrorPercent, std::fabs(setting.errorPercent));
            row.settings.push_back(setting);
        }
        if (reachesAll)
            rows.push_back(std::move(row));
    }
    std::stable_sort(rows.begin(), rows.end(), [](const ClockRow &x, const ClockRow &y) {
        if (x.worstErrorPercent != y.worstErrorPercent)
            return x.worstErrorPercent < y.worstErrorPercent;
        return x.clock > y.clock;
    });
    return rows;
}

} // namespace calculator::uart
