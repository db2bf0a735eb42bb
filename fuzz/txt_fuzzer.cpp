// The TXT encoding is a sequence of length-prefixed "key=value" strings that
// add up to the whole, or nothing when an entry cannot fit.

#include "platform/NetService.h"

#include <QList>

#include <cstdlib>

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Entries separated by 0xFF bytes; key and value split at the first '='.
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    TxtDictionary dictionary;
    for (const QByteArray &entry : input.split('\xff')) {
        const qsizetype eq = entry.indexOf('=');
        const QByteArray key = eq < 0 ? entry : entry.left(eq);
        const QByteArray value = eq < 0 ? QByteArray() : entry.mid(eq + 1);
        dictionary.emplace_back(QString::fromUtf8(key), value);
    }

    const std::optional<QByteArray> encoded = NetService::dataFromTXTRecordDictionary(dictionary);
    bool fits = true;
    for (const auto &[key, value] : dictionary)
        fits = fits && !key.isEmpty() && key.toUtf8().size() + 1 + value.size() <= 255;
    check(encoded.has_value() == fits);
    if (!encoded)
        return 0;

    qsizetype offset = 0;
    for (const auto &[key, value] : dictionary) {
        check(offset < encoded->size());
        const int length = uchar(encoded->at(offset));
        check(encoded->mid(offset + 1, length) == key.toUtf8() + '=' + value);
        offset += 1 + length;
    }
    check(offset == encoded->size());
    return 0;
}
