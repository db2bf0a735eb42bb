#pragma once

#include "platform/NetService.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// The DNS-SD registration a phone discovers.
namespace ServiceRecord {

inline const QString domain = QStringLiteral("local.");
inline const QString type = QStringLiteral("_quillfen._tcp.");
inline const QString fallbackDisplayName = QStringLiteral("Mac Charles");

// "Quillfen-" and the first 8 characters (grapheme clusters) of the identifier.
QString instanceName(const QString &machineId);

// The first 40 characters of the display name ("Mac Charles" when there is
// none), cut further at a character boundary until "name=" and the UTF-8 value
// fit in one 255-byte TXT string.
QString displayName(const std::optional<QString> &hostDisplayName);

// The four entries, in the order they are encoded: id, name, version, addresses.
TxtDictionary txtDictionary(const QString &machineId, const std::optional<QString> &hostDisplayName,
                            const QStringList &addresses);

// The first `count` grapheme clusters of text (all of it when shorter).
QString leadingCharacters(const QString &text, qsizetype count);

// Creates the service, makes `delegate` its delegate, sets its TXT record and
// tells it to publish.
std::unique_ptr<NetService> publish(NetServicePublisher &publisher, qint64 port, const QStringList &addresses,
                                    const QString &machineId, const std::optional<QString> &hostDisplayName,
                                    NetServiceDelegate *delegate);

} // namespace ServiceRecord
