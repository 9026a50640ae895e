#include "engine/echo_diff.h"

#include <algorithm>
#include <cstdint>

namespace echotest {

namespace {

enum Step : uint8_t { Same, Substitute, Lose, Add };

// The alignment keeps a step per pair of bytes: up to this many (16 MB).
constexpr std::size_t kMaxAlignedCells = 16'000'000;

bool alignable(std::size_t expected, std::size_t received)
{
    return (expected + 1) * (std::min(received, kMaxAlignedBytes) + 1) <= kMaxAlignedCells;
}

EchoDiff alignWhole(const std::string &expected, const std::string &received);

// Too long to align whole (a pattern of many kilobytes): the beginning and
// the end the two have in common are taken as they are, and only the part
// in between is aligned; where even that is too long, it is compared
// position by position, the surplus of either side counted at its end.
EchoDiff alignLong(const std::string &expected, const std::string &received)
{
    const std::size_t shorter = std::min(expected.size(), received.size());
    std::size_t head = 0;
    while (head < shorter && expected[head] == received[head])
        ++head;
    std::size_t tail = 0;
    while (tail < shorter - head && expected[expected.size() - 1 - tail] == received[received.size() - 1 - tail])
        ++tail;
    const std::string expectedMiddle = expected.substr(head, expected.size() - head - tail);
    const std::string receivedMiddle = received.substr(head, received.size() - head - tail);
    EchoDiff diff;
    std::vector<EchoDiff::FirstError> faults;
    if (alignable(expectedMiddle.size(), receivedMiddle.size())) {
        diff = alignWhole(expectedMiddle, receivedMiddle);
        if (diff.first)
            faults.push_back(*diff.first);
    } else {
        const std::size_t both = std::min(expectedMiddle.size(), receivedMiddle.size());
        for (std::size_t at = 0; at < both; ++at) {
            if (expectedMiddle[at] == receivedMiddle[at])
                continue;
            ++diff.wrongBytes;
            diff.errorPositions.push_back(static_cast<int32_t>(at));
            faults.push_back({static_cast<int32_t>(at), static_cast<unsigned char>(expectedMiddle[at]),
                              static_cast<unsigned char>(receivedMiddle[at])});
        }
        for (std::size_t at = both; at < expectedMiddle.size(); ++at) {
            ++diff.missingBytes;
            diff.errorPositions.push_back(static_cast<int32_t>(at));
            faults.push_back({static_cast<int32_t>(at), static_cast<unsigned char>(expectedMiddle[at]), std::nullopt});
        }
        diff.extraBytes += static_cast<int32_t>(receivedMiddle.size() - both);
        if (receivedMiddle.size() > both) {
            diff.errorPositions.push_back(static_cast<int32_t>(both));
            faults.push_back({static_cast<int32_t>(both), 0, static_cast<unsigned char>(receivedMiddle[both])});
        }
    }
    // Back to positions in the whole pattern.
    for (int32_t &position : diff.errorPositions)
        position += static_cast<int32_t>(head);
    diff.first.reset();
    if (!faults.empty()) {
        EchoDiff::FirstError first = faults.front();
        first.position += static_cast<int32_t>(head);
        // An extra byte at the end of the middle arrived before a byte of
        // the common end, not past the pattern.
        if (static_cast<std::size_t>(first.position) < expected.size())
            first.expected = static_cast<unsigned char>(expected[static_cast<std::size_t>(first.position)]);
        diff.first = first;
    }
    return diff;
}

} // namespace

EchoDiff compareEcho(const std::string &expected, const std::string &received)
{
    if (!alignable(expected.size(), received.size()))
        return alignLong(expected, received);
    return alignWhole(expected, received);
}

namespace {

EchoDiff alignWhole(const std::string &expected, const std::string &received)
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

} // namespace

} // namespace echotest
