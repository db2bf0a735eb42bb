// parseDecimal agrees with a plain reference reading of the same text.

#include "advertiser/DecimalText.h"

#include <QString>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Sign, digits only, then a value check with 128-bit arithmetic.
std::optional<qint64> reference(const QString &text)
{
    const std::u16string s = text.toStdU16String();
    size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-'))
        negative = s[i++] == u'-';
    if (i == s.size())
        return std::nullopt;
    __int128 value = 0;
    for (; i < s.size(); ++i) {
        if (s[i] < u'0' || s[i] > u'9')
            return std::nullopt;
        value = value * 10 + (s[i] - u'0');
        if (value > (__int128(1) << 63))
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > INT64_MAX || value < INT64_MIN)
        return std::nullopt;
    return qint64(value);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    if (parseDecimal(text) != reference(text))
        std::abort();
    return 0;
}
