#pragma once

#include <avahi-common/watch.h>

// Runs avahi-client on the Qt event loop of the thread that creates it: file
// descriptor watches become QSocketNotifiers, timeouts become single-shot
// QTimers. Avahi may free a watch or a timeout from inside its own callback,
// so the callback call is always the last thing a dispatch does, and the Qt
// objects are disconnected at once and deleted later.
class AvahiQtPoll
{
public:
    AvahiQtPoll();
    AvahiQtPoll(const AvahiQtPoll &) = delete;
    AvahiQtPoll &operator=(const AvahiQtPoll &) = delete;

    // Valid as long as this object lives; everything made through it must be
    // freed first (avahi_client_free does that for a client).
    const AvahiPoll *api() const { return &m_api; }

private:
    AvahiPoll m_api;
};
