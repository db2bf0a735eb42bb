// selectAddresses keeps the limits of its result, whatever the candidates:
// each host once, at most 8 of them and 240 bytes joined, and the same
// result in any order.

#include "advertiser/PhysicalAddresses.h"

#include <algorithm>
#include <random>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Records of one rank byte, one length byte and that many host bytes.
    std::vector<AddressCandidate> candidates;
    for (size_t i = 0, n = 0; i + 2 <= size; i += 2 + n) {
        n = std::min<size_t>(data[i + 1] % 64, size - i - 2);
        candidates.push_back({QString::fromLatin1(QByteArrayView(data + i + 2, qsizetype(n))), data[i] % 4});
    }
    QStringList result = selectAddresses(candidates);
    const bool ok = result.size() <= 8 && result.join(',').toUtf8().size() <= 240 && result.removeDuplicates() == 0;
    std::shuffle(candidates.begin(), candidates.end(), std::mt19937(uint32_t(size)));
    if (!ok || selectAddresses(candidates) != result)
        __builtin_trap();
    return 0;
}
