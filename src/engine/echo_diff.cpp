#include "engine/echo_diff.h"

#include <algorithm>
#include <cstdint>

namespace echotest {

namespace {

enum Step : uint8_t { Same, Substitute, Lose, Add };

} // namespace

EchoDiff compareEcho(const std::string &expected, const std::string &received)
{
    EchoDiff diff;
    const std::size_t n = expected.size();
    const std::size_t m = std::min(received.size(), kMaxAlignedBytes);
    const auto surplus = static_cast<int32_t>(received.size() - m);

    // cost[i][j]: edits turning expected[0,i) into received[0,j); only two
    // rows of costs are kept, the steps are kept whole for the way back.
    std::vector<uint8_t> steps((n + 1) * (m + 1));
    std::vector<int32_t> previous(m + 1), current(m + 1);
    for (std::size_t j = 0; j <= m; ++j) {
        previous[j] = static_cast<int32_t>(j);
        steps[j] = Add;
    }
    for (std::size_t i = 1; i <= n; ++i) {
        current[0] = static_cast<int32_t>(i);
        steps[i * (m + 1)] = Lose;
        for (std::size_t j = 1; j <= m; ++j) {
            const bool same = expected[i - 1] == received[j - 1];
            int32_t best = previous[j - 1] + (same ? 0 : 1);
            uint8_t step = same ? Same : Substitute;
            if (previous[j] + 1 < best) {
                best = previous[j] + 1;
                step = Lose;
            }
            if (current[j - 1] + 1 < best) {
                best = current[j - 1] + 1;
                step = Add;
            }
            current[j] = best;
            steps[i * (m + 1) + j] = step;
        }
        std::swap(previous, current);
    }

    // Walk back from the end; positions come out last first.
    std::size_t i = n, j = m;
    std::vector<EchoDiff::FirstError> faults;
    while (i > 0 || j > 0) {
        const uint8_t step = steps[i * (m + 1) + j];
        const auto position = static_cast<int32_t>(i > 0 ? i - 1 : 0);
        switch (step) {
        case Same:
            --i;
            --j;
            break;
        case Substitute:
            ++diff.wrongBytes;
            faults.push_back({position, static_cast<unsigned char>(expected[i - 1]),
                              static_cast<unsigned char>(received[j - 1])});
            --i;
            --j;
            break;
        case Lose:
            ++diff.missingBytes;
            faults.push_back({position, static_cast<unsigned char>(expected[i - 1]), std::nullopt});
            --i;
            break;
        case Add: {
            ++diff.extraBytes;
            // The byte arrived before pattern position i.
            const auto before = static_cast<int32_t>(i);
            const auto expectedThere = static_cast<unsigned char>(i < n ? expected[i] : '\0');
            faults.push_back({before, expectedThere, static_cast<unsigned char>(received[j - 1])});
            --j;
            break;
        }
        }
    }
    diff.extraBytes += surplus;
    if (surplus > 0 && faults.empty())
        faults.push_back({static_cast<int32_t>(n), 0, static_cast<unsigned char>(received[m])});
    std::reverse(faults.begin(), faults.end());
    for (const auto &fault : faults)
        diff.errorPositions.push_back(fault.position);
    if (!faults.empty())
        diff.first = faults.front();
    return diff;
}

} // namespace echotest
