#include "platform/NetService.h"

std::optional<QByteArray> NetService::dataFromTXTRecordDictionary(const TxtDictionary &dictionary)
{
    QByteArray data;
    for (const auto &[key, value] : dictionary) {
        const QByteArray entry = key.toUtf8() + '=' + value;
        // One length byte per string; a key is required.
        if (key.isEmpty() || entry.size() > 255)
            return std::nullopt;
        data += char(uchar(entry.size()));
        data += entry;
    }
    return data;
}
