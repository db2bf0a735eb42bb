// parseLsofOutput takes any bytes, and gives back in order the ports of the
// name lines lsof writes for them.

#include "advertiser/ListeningPorts.h"

#include <QtEndian>


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QList<qint64> ports;
    for (size_t i = 0; i + sizeof(qint64) <= size; i += sizeof(qint64))
        ports << qFromUnaligned<qint64>(data + i);
    QByteArray output = "p1\n";
    for (const qint64 port : ports)
        output += "f3\nn" + QByteArray(port % 2 ? "[::1]:" : "*:") + QByteArray::number(port) + '\n';
    parseLsofOutput(QByteArray(reinterpret_cast<const char *>(data), qsizetype(size))); // any bytes at all
    if (parseLsofOutput(output) != ports)
        __builtin_trap();
    return 0;
}
