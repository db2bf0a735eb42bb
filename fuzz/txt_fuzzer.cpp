// The TXT encoding is a sequence of length-prefixed "key=value" strings that
// add up to the whole, or nothing when an entry cannot fit.

#include "platform/NetService.h"

#include <QList>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Entries separated by 0xFF bytes; key and value split at the first '='.
    TxtDictionary dictionary;
    QByteArray expected;
    bool fits = true;
    for (const QByteArray &entry : QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\xff')) {
        const qsizetype eq = entry.contains('=') ? entry.indexOf('=') : entry.size();
        dictionary.emplace_back(QString::fromUtf8(entry.left(eq)), entry.mid(eq + 1));
        const QByteArray string = dictionary.back().first.toUtf8() + '=' + dictionary.back().second;
        fits = fits && eq > 0 && string.size() <= 255;
        expected += char(string.size()) + string;
    }
    if (NetService::dataFromTXTRecordDictionary(dictionary) != (fits ? std::optional(expected) : std::nullopt))
        __builtin_trap();
    return 0;
}
