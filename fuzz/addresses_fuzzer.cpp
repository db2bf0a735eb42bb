// selectAddresses keeps every promise of its result, whatever the candidates
// and their order.

#include "advertiser/PhysicalAddresses.h"

#include <algorithm>
#include <cstdlib>
#include <random>

static void check(bool condition)
{
    if (!condition)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Records of one rank byte, one length byte and that many host bytes.
    std::vector<AddressCandidate> candidates;
    for (size_t i = 0, length = 0; i + 2 <= size; i += 2 + length) {
        length = std::min<size_t>(data[i + 1] % 64, size - i - 2);
        candidates.push_back({QString::fromLatin1(reinterpret_cast<const char *>(data + i + 2), qsizetype(length)), data[i] % 4});
    }
    const QStringList result = selectAddresses(candidates);
    check(result.size() <= 8 && result.join(',').toUtf8().size() <= 240 && QStringList(result).removeDuplicates() == 0);

    // Each host at its best rank; link-local ones only when nothing is routable; by rank, then text.
    const auto rankOf = [&](const QString &host) {
        qint64 best = 4;
        for (const AddressCandidate &c : candidates)
            best = c.host == host ? std::min(best, c.rank) : best;
        return best;
    };
    const bool routable = std::any_of(candidates.begin(), candidates.end(), [](auto &c) { return c.rank <= 1; });
    for (qsizetype i = 0; i < result.size(); ++i) {
        check(rankOf(result[i]) < (routable ? 2 : 4));
        check(i == 0 || std::pair(rankOf(result[i - 1]), result[i - 1]) < std::pair(rankOf(result[i]), result[i]));
    }
    std::shuffle(candidates.begin(), candidates.end(), std::mt19937(uint32_t(size)));
    check(selectAddresses(candidates) == result);
    return 0;
}
