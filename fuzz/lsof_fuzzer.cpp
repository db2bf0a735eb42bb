// parseLsofOutput takes any bytes, finds at most one port per line, and gives
// back in order the ports of the name lines lsof writes for them.

#include "advertiser/ListeningPorts.h"

#include <QtEndian>


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<qint64> ports;
    for (size_t i = 0; i + sizeof(qint64) <= size; i += sizeof(qint64))
        ports << qFromUnaligned<qint64>(data + i);
    QByteArray output = "p1\n";
    for (const qint64 port : ports)
        output += "f3\nn" + QByteArray(port % 2 ? "[::1]:" : "*:") + QByteArray::number(port) + '\n';
    if (parseLsofOutput(bytes).size() > bytes.count('\n') + 1 || parseLsofOutput(output) != ports)
        __builtin_trap();
    return 0;
}
