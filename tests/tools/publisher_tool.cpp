// A DNS-SD publisher driven from standard input, for the LAN scenarios
// (tests/lan/scenarios.sh):
//
//   publisher_tool avahi|dnssd [TIMEOUT-MS]
//
// the backend, and the registration timeout (10 s unless given). One command
// a line:
//
//   publish NAME PORT [TXT-STRING...]   a new service (numbered from 1), published
//   stop | drop                         stop() or destroy the newest service
//   run SHELL-COMMAND                   run it right away, e.g. to freeze the daemon
//   quit
//
// Lines that arrive together run without the event loop in between. Prints
// what the services' delegate hears: "N published" or "N failed ERROR" (the
// backend's error code), with " inside publish" added to an event delivered
// from inside publish().

#include "platform/AvahiPublisher.h"
#include "platform/DnsSdPublisher.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

struct Delegate final : NetServiceDelegate
{
    std::vector<std::unique_ptr<NetService>> services;
    bool insidePublish = false;

    void say(NetService *sender, const QByteArray &what)
    {
        size_t number = 1;
        while (number <= services.size() && services[number - 1].get() != sender)
            ++number;
        std::printf("%zu %s%s\n", number, what.constData(), insidePublish ? " inside publish" : "");
        std::fflush(stdout);
    }
    void netServiceDidPublish(NetService *sender) override { say(sender, "published"); }
    void netServiceDidNotPublish(NetService *sender, const ErrorDictionary &error) override
    {
        // The code's key sorts before the domain's in both backends' dictionaries.
        say(sender, "failed " + QByteArray::number(error.begin()->second));
    }
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::chrono::milliseconds timeout(argc > 2 ? std::atoi(argv[2]) : 10000);
    std::unique_ptr<NetServicePublisher> backend;
    if (argc > 1 && QByteArray(argv[1]) == "avahi")
        backend = std::make_unique<AvahiPublisher>(timeout);
#ifndef QUILLFEN_NO_DNSSD_BACKEND
    if (argc > 1 && QByteArray(argv[1]) == "dnssd")
        backend = std::make_unique<DnsSdPublisher>(timeout);
#endif
    if (!backend)
        return std::fprintf(stderr, "publisher_tool avahi|dnssd [TIMEOUT-MS]\n"), 2;
    NetServicePublisher &publisher = *backend;
    Delegate delegate;
    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&] {
        char buffer[4096];
        const ssize_t size = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (size <= 0)
            return QCoreApplication::quit();
        pending.append(buffer, size);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QByteArray line = pending.left(end);
            const QList<QByteArray> words = line.split(' ');
            if (words[0] == "publish" && words.size() >= 3) {
                auto &service = delegate.services.emplace_back(publisher.createService(
                    QStringLiteral("local."), QStringLiteral("_quillfen._tcp."), QString::fromUtf8(words[1]),
                    words[2].toInt()));
                QByteArray txt;
                for (const QByteArray &string : words.mid(3))
                    txt += char(string.size()) + string;
                service->setDelegate(&delegate);
                service->setTXTRecordData(txt);
                delegate.insidePublish = true;
                service->publish();
                delegate.insidePublish = false;
            } else if (words[0] == "stop")
                delegate.services.back()->stop();
            else if (words[0] == "drop")
                delegate.services.back().reset();
            else if (words[0] == "run")
                std::system(line.mid(4).constData());
            else if (words[0] == "quit")
                QCoreApplication::quit();
        }
    });
    return app.exec();
}
