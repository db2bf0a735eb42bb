#pragma once

#include <QString>
#include <QStringList>
#include <vector>

// One interface address that may be offered to the phone. Rank: 0 IPv4, 1 IPv6,
// 2 IPv4 link-local, 3 IPv6 link-local; smaller is better.
struct AddressCandidate
{
    QString host;
    qint64 rank = 0;
};

// The numeric addresses of this computer's wired and Wi-Fi interfaces (names
// beginning "en", "eth" or "wl") that are up and running, ranked and capped as
// selectAddresses() says. Empty when the interfaces cannot be listed.
QStringList physicalAddresses();

// Whether an interface of this name is a wired or Wi-Fi one.
bool isPhysicalInterfaceName(const QString &name);

// Ranked selection: ascending (rank, host) by code point, each host once,
// link-local ones only when nothing routable exists, at most 8 entries and at
// most 240 bytes when joined with ",". Depends only on the set of candidates.
QStringList selectAddresses(std::vector<AddressCandidate> candidates);
