#include "advertiser/PhysicalAddresses.h"

#include <QSet>

#include <algorithm>

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr qsizetype maximumEntries = 8;
constexpr qsizetype maximumJoinedBytes = 240;

bool isLinkLocal(const sockaddr *address, const QString &host)
{
    if (address->sa_family == AF_INET6) {
        const auto *bytes = reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr.s6_addr;
        return bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80;
    }
    return host.startsWith(QLatin1String("169.254."));
}

} // namespace

bool isPhysicalInterfaceName(const QString &name)
{
    return name.startsWith(QLatin1String("en")) || name.startsWith(QLatin1String("eth"))
        || name.startsWith(QLatin1String("wl"));
}

QStringList physicalAddresses()
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0 || !list)
        return {};

    std::vector<AddressCandidate> candidates;
    for (const ifaddrs *entry = list; entry; entry = entry->ifa_next) {
        if (!isPhysicalInterfaceName(QString::fromUtf8(entry->ifa_name)))
            continue;
        if ((entry->ifa_flags & (IFF_UP | IFF_RUNNING)) != (IFF_UP | IFF_RUNNING))
            continue;
        const sockaddr *address = entry->ifa_addr;
        if (!address || (address->sa_family != AF_INET6 && address->sa_family != AF_INET))
            continue;
        // Linux socket addresses carry no length of their own.
        const socklen_t length = address->sa_family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        char buffer[NI_MAXHOST] = {};
        if (getnameinfo(address, length, buffer, sizeof buffer, nullptr, 0, NI_NUMERICHOST) != 0)
            continue;
        QString host = QString::fromUtf8(buffer);
        // Drop an IPv6 zone such as "%en0".
        if (const qsizetype zone = host.indexOf(QLatin1Char('%')); zone >= 0)
            host.truncate(zone);
        const qint64 rank = (isLinkLocal(address, host) ? 2 : 0) + (address->sa_family == AF_INET6 ? 1 : 0);
        candidates.push_back({host, rank});
    }
    freeifaddrs(list);
    return selectAddresses(std::move(candidates));
}

QStringList selectAddresses(std::vector<AddressCandidate> candidates)
{
    const bool routable = std::any_of(candidates.begin(), candidates.end(),
                                      [](const AddressCandidate &c) { return c.rank <= 1; });
    std::stable_sort(candidates.begin(), candidates.end(), [](const AddressCandidate &a, const AddressCandidate &b) {
        if (a.rank != b.rank)
            return a.rank < b.rank;
        return a.host < b.host; // QString compares by UTF-16 unit: code point order for these texts
    });

    QStringList result;
    qsizetype joinedBytes = 0;
    for (const AddressCandidate &candidate : candidates) {
        if (routable && candidate.rank >= 2)
            continue;
        if (result.contains(candidate.host) || result.size() >= maximumEntries)
            continue;
        const qsizetype added = candidate.host.toUtf8().size() + (result.isEmpty() ? 0 : 1);
        if (joinedBytes + added > maximumJoinedBytes)
            continue; // a later, shorter one may still fit
        result << candidate.host;
        joinedBytes += added;
    }
    return result;
}
