// The TXT encoding is a sequence of length-prefixed "key=value" strings that
// add up to the whole, or nothing when an entry cannot fit.

#include "platform/NetService.h"

#include <QList>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Entries separated by 0xFF bytes; key and value split at the first '='.
    TxtDictionary dictionary;
    bool fits = true;
    for (const QByteArray &entry : QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\xff')) {
        const qsizetype eq = entry.contains('=') ? entry.indexOf('=') : entry.size();
        dictionary.emplace_back(QString::fromUtf8(entry.left(eq)), entry.mid(eq + 1));
        fits = fits && eq > 0 && dictionary.back().first.toUtf8().size() + 1 + dictionary.back().second.size() <= 255;
    }
    const std::optional<QByteArray> encoded = NetService::dataFromTXTRecordDictionary(dictionary);
    QByteArray expected;
    for (const auto &[key, value] : dictionary)
        expected += char(key.toUtf8().size() + 1 + value.size()) + key.toUtf8() + '=' + value;
    if (encoded != (fits ? std::optional(expected) : std::nullopt))
        std::abort();
    return 0;
}
