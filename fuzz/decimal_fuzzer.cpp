// parseDecimal agrees with std::from_chars on the same text: one optional
// sign, ASCII digits only, within 64 bits.

#include "advertiser/DecimalText.h"

#include <QString>

#include <charconv>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray latin = text.toLatin1(); // other characters become '?'
    const char *begin = latin.constData() + (latin.startsWith('+') && !latin.startsWith("+-")), *end = latin.end();
    qint64 value = 0;
    const std::from_chars_result read = std::from_chars(begin, end, value);
    if (parseDecimal(text) != (read.ec == std::errc() && read.ptr == end ? std::optional(value) : std::nullopt))
        __builtin_trap();
    return 0;
}
