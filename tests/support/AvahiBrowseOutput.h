#pragma once

// Reading the parsable output of `avahi-browse -p` (avahi-utils 0.8 as Debian
// 12 ships it).
//
//   +;eth0;IPv4;Quillfen-1234ABCD;_quillfen._tcp;local
//   =;eth0;IPv4;Quillfen-1234ABCD;_quillfen._tcp;local;qf-mac.local;192.0.2.10;8888;"version=1" "id=..."
//   -;eth0;IPv4;Quillfen-1234ABCD;_quillfen._tcp;local
//
// The instance name is escaped like a DNS label: "\." and "\\" for a dot and
// a backslash, "\DDD" (three decimal digits) for any byte other than a letter,
// digit, '-' or '_' (a blank is "\032", a ';' "\059"). Each TXT string is in
// double quotes, the strings separated by one blank; inside, '"' and '\' are
// escaped with a backslash and other unprintable bytes as "\DDD". TXT strings
// are not protected against ';', so the TXT field is the rest of the line.
// avahi-browse prints the TXT strings from the last to the first; the parser
// turns them back into record order.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>

struct BrowsedService
{
    QString interfaceName; // the phone's interface, e.g. "eth0"
    QString protocol;      // "IPv4" or "IPv6": the protocol it was found over
    QString name;          // the instance name, unescaped
    QString type;          // e.g. "_quillfen._tcp"
    QString domain;        // e.g. "local"
    // Filled in on resolve lines only.
    QString host;    // e.g. "qf-mac.local"
    QString address; // the host's address over `protocol`
    int port = 0;
    QList<QByteArray> txt; // the TXT strings, in record order, unescaped

    // The value of the first TXT entry "key=value" with this key; nothing when
    // there is none.
    std::optional<QByteArray> txtValue(QByteArrayView key) const;
};

struct AvahiBrowseLine
{
    enum class Kind { Added, Resolved, Removed };
    Kind kind;
    BrowsedService service;
};

// One output line, with or without its line feed. Nothing when the line is not
// a '+', '=' or '-' line of the parsable format.
std::optional<AvahiBrowseLine> parseAvahiBrowseLine(QByteArrayView line);

// Every resolved service in a whole output, in output order.
QList<BrowsedService> parseResolvedServices(const QByteArray &output);

// "\." "\\" and "\DDD" undone. Nothing for a dangling or malformed escape.
std::optional<QByteArray> unescapeAvahiLabel(QByteArrayView escaped);

// The TXT field of a resolve line, in record order. Nothing when malformed.
std::optional<QList<QByteArray>> parseAvahiTxtField(QByteArrayView field);
