// selectAddresses keeps every promise of its result, whatever the candidates
// and their order.

#include "advertiser/PhysicalAddresses.h"

#include <algorithm>
#include <cstdlib>
#include <random>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Input: records of one rank byte, one length byte and that many host bytes.
std::vector<AddressCandidate> candidatesFrom(const uint8_t *data, size_t size)
{
    std::vector<AddressCandidate> candidates;
    size_t i = 0;
    while (i + 2 <= size) {
        const qint64 rank = data[i] % 4;
        const size_t length = std::min<size_t>(data[i + 1] % 64, size - i - 2);
        const QByteArray host(reinterpret_cast<const char *>(data + i + 2), qsizetype(length));
        candidates.push_back({QString::fromLatin1(host), rank});
        i += 2 + length;
    }
    return candidates;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<AddressCandidate> candidates = candidatesFrom(data, size);
    const QStringList result = selectAddresses(candidates);

    check(result.size() <= 8);
    check(result.join(QLatin1Char(',')).toUtf8().size() <= 240);
    QStringList unique = result;
    check(unique.removeDuplicates() == 0);

    const bool routable = std::any_of(candidates.begin(), candidates.end(),
                                      [](const AddressCandidate &c) { return c.rank <= 1; });
    auto rankOf = [&](const QString &host) {
        qint64 best = 4;
        for (const AddressCandidate &c : candidates)
            if (c.host == host)
                best = std::min(best, c.rank);
        return best;
    };
    for (qsizetype i = 0; i < result.size(); ++i) {
        check(rankOf(result[i]) < 4);
        if (routable)
            check(rankOf(result[i]) <= 1);
        if (i > 0) {
            const qint64 a = rankOf(result[i - 1]), b = rankOf(result[i]);
            check(a < b || (a == b && result[i - 1] < result[i]));
        }
    }

    // The order in which the system lists its interfaces does not matter.
    std::vector<AddressCandidate> shuffled = candidates;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(uint32_t(size)));
    check(selectAddresses(shuffled) == result);
    return 0;
}
