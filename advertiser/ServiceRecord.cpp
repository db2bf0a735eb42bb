#include "advertiser/ServiceRecord.h"

#include <QTextBoundaryFinder>

namespace ServiceRecord {

namespace {

constexpr qsizetype instanceIdCharacters = 8;
constexpr qsizetype displayNameCharacters = 40;
constexpr qsizetype txtStringBytes = 255;
const QByteArray nameKey = "name";

// Start offsets of every grapheme cluster after the first, plus the end.
QList<qsizetype> characterBoundaries(const QString &text)
{
    QList<qsizetype> boundaries;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    while (finder.toNextBoundary() > 0)
        boundaries << finder.position();
    return boundaries;
}

} // namespace

QString leadingCharacters(const QString &text, qsizetype count)
{
    if (count <= 0)
        return {};
    const QList<qsizetype> boundaries = characterBoundaries(text);
    if (boundaries.size() <= count)
        return text;
    return text.left(boundaries[count - 1]);
}

QString instanceName(const QString &machineId)
{
    return QStringLiteral("Quillfen-") + leadingCharacters(machineId, instanceIdCharacters);
}

QString displayName(const std::optional<QString> &hostDisplayName)
{
    const QString name = leadingCharacters(hostDisplayName.value_or(fallbackDisplayName), displayNameCharacters);
    // Forty long characters (emoji sequences, stacked accents) can outgrow one
    // TXT string, which would empty the whole record; drop whole characters
    // from the end until "name=" and the value fit.
    const qsizetype room = txtStringBytes - nameKey.size() - 1;
    if (name.toUtf8().size() <= room)
        return name;
    QList<qsizetype> boundaries = characterBoundaries(name);
    while (!boundaries.isEmpty()) {
        boundaries.removeLast();
        const QString shorter = name.left(boundaries.isEmpty() ? 0 : boundaries.last());
        if (shorter.toUtf8().size() <= room)
            return shorter;
    }
    return {};
}

TxtDictionary txtDictionary(const QString &machineId, const std::optional<QString> &hostDisplayName,
                            const QStringList &addresses)
{
    return {
        {QStringLiteral("id"), machineId.toUtf8()},
        {QString::fromLatin1(nameKey), displayName(hostDisplayName).toUtf8()},
        {QStringLiteral("version"), QByteArrayLiteral("1")},
        {QStringLiteral("addresses"), addresses.join(QLatin1Char(',')).toUtf8()},
    };
}

std::unique_ptr<NetService> publish(NetServicePublisher &publisher, qint64 port, const QStringList &addresses,
                                    const QString &machineId, const std::optional<QString> &hostDisplayName,
                                    NetServiceDelegate *delegate)
{
    std::unique_ptr<NetService> service =
        publisher.createService(domain, type, instanceName(machineId), qint32(port));
    service->setDelegate(delegate);
    const std::optional<QByteArray> txt =
        NetService::dataFromTXTRecordDictionary(txtDictionary(machineId, hostDisplayName, addresses));
    service->setTXTRecordData(txt.value_or(QByteArray()));
    service->publish();
    return service;
}

} // namespace ServiceRecord
