#pragma once

#include <QByteArray>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// The error dictionary of a failed publication: text keys, number values.
// The Avahi backend reports {"errorCode": <Avahi error>, "errorDomain": 1}.
using ErrorDictionary = std::map<QString, qint64>;

// A TXT dictionary in the order its entries are to be encoded.
using TxtDictionary = std::vector<std::pair<QString, QByteArray>>;

class NetService;

// Receives the outcome of NetService::publish(). Events always arrive later
// from the event loop, never from inside the call that caused them, and never
// after NetService::stop().
class NetServiceDelegate
{
public:
    virtual void netServiceDidPublish(NetService *sender) = 0;
    virtual void netServiceDidNotPublish(NetService *sender, const ErrorDictionary &error) = 0;

protected:
    ~NetServiceDelegate() = default;
};

// One DNS-SD registration, created for one (domain, type, name, port). Its
// operations are used in this order: setDelegate, setTXTRecordData, publish,
// and stop. A failed or stopped service is never published again.
class NetService
{
public:
    virtual ~NetService() = default;

    // RFC 6763 section 6: one length-prefixed "key=value" string per entry, in
    // the dictionary's order. Nothing when an entry does not fit in 255 bytes.
    static std::optional<QByteArray> dataFromTXTRecordDictionary(const TxtDictionary &dictionary);

    // The delegate is not owned.
    virtual void setDelegate(NetServiceDelegate *delegate) = 0;
    virtual void setTXTRecordData(const QByteArray &data) = 0;
    // Asynchronous: returns at once; the outcome is a delegate event.
    virtual void publish() = 0;
    // Withdraws the registration; no event follows.
    virtual void stop() = 0;
};

// Creates services on one DNS-SD backend. Nothing is sent on the network until
// the service is published.
class NetServicePublisher
{
public:
    virtual ~NetServicePublisher() = default;
    virtual std::unique_ptr<NetService> createService(const QString &domain, const QString &type,
                                                      const QString &name, qint32 port) = 0;
};
