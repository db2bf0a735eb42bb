#pragma once

#include "platform/NetService.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <utility>

// What every backend's service holds: the terms it was created with, the TXT
// record and the delegate, the context of its queued delegate events and the
// bound on its registration. Header-only, so that each backend library builds
// on its own.
class ServiceRegistration : public NetService
{
public:
    void setDelegate(NetServiceDelegate *delegate) override { m_delegate = delegate; }
    void setTXTRecordData(const QByteArray &data) override { m_txt = data; }

protected:
    ServiceRegistration(QString domain, QString type, QString name, qint32 port,
                        std::chrono::milliseconds registrationTimeout)
        : m_domain(std::move(domain))
        , m_type(std::move(type))
        , m_name(std::move(name))
        , m_port(port)
        , m_registrationTimeout(registrationTimeout)
    {
        m_registrationTimer.setSingleShot(true);
        QObject::connect(&m_registrationTimer, &QTimer::timeout, &m_events, [this] { registrationTimedOut(); });
    }

    // The registration has not finished within its bound (the timer runs
    // from publish() until the daemon answers).
    virtual void registrationTimedOut() = 0;

    const QString m_domain;
    const QString m_type;
    const QString m_name;
    const qint32 m_port;
    const std::chrono::milliseconds m_registrationTimeout;
    QByteArray m_txt;
    NetServiceDelegate *m_delegate = nullptr;
    // Context of the queued delegate events and of the timer: both die with
    // the service, so nothing is delivered once it is gone.
    QObject m_events;
    QTimer m_registrationTimer;
};
