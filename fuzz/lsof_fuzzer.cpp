// parseLsofOutput returns, in order, exactly the numbers that a plain reading
// of the name lines finds.

#include "advertiser/DecimalText.h"
#include "advertiser/ListeningPorts.h"

#include <QStringDecoder>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const QList<qint64> ports = parseLsofOutput(bytes);

    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    QList<qint64> expected;
    if (!decoder.hasError()) {
        for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (!line.startsWith(QLatin1Char('n')))
                continue;
            const QStringList pieces = line.split(QLatin1Char(':'), Qt::SkipEmptyParts);
            if (pieces.isEmpty())
                continue;
            if (const std::optional<qint64> port = parseDecimal(pieces.last()))
                expected << *port;
        }
    }
    if (ports != expected)
        std::abort();
    return 0;
}
