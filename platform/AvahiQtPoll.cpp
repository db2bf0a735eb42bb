#include "platform/AvahiQtPoll.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <poll.h>
#include <sys/time.h>

// Avahi only declares these two; their layout is ours.
struct AvahiWatch
{
    int fd;
    AvahiWatchEvent wanted;
    AvahiWatchEvent happened;
    AvahiWatchCallback callback;
    void *userdata;
    QSocketNotifier *reader;
    QSocketNotifier *writer;
};

struct AvahiTimeout
{
    QTimer *timer;
    AvahiTimeoutCallback callback;
    void *userdata;
};

namespace {

constexpr int allWatchEvents = AVAHI_WATCH_IN | AVAHI_WATCH_OUT | AVAHI_WATCH_ERR | AVAHI_WATCH_HUP;

// The object may be the sender of the signal that is being handled right now:
// cut it off at once, delete it once control is back in the event loop.
void release(QObject *object)
{
    if (!object)
        return;
    object->disconnect();
    object->deleteLater();
}

// A notifier only says "something happened"; ask the descriptor what, so that
// an error or a hang-up reaches Avahi as AVAHI_WATCH_ERR / AVAHI_WATCH_HUP.
void dispatch(AvahiWatch *watch)
{
    pollfd descriptor{watch->fd, short(watch->wanted & (AVAHI_WATCH_IN | AVAHI_WATCH_OUT)), 0};
    int ready;
    do {
        ready = ::poll(&descriptor, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return; // someone else consumed the event in this round
    int events = descriptor.revents;
    if (events & POLLNVAL)
        events = AVAHI_WATCH_ERR; // a closed descriptor is the owner's error to handle
    events &= allWatchEvents;
    if (!events)
        return;
    watch->happened = AvahiWatchEvent(events);
    // Last statement: the callback may free the watch.
    watch->callback(watch, watch->fd, watch->happened, watch->userdata);
}

QSocketNotifier *makeNotifier(AvahiWatch *watch, QSocketNotifier::Type type)
{
    auto *notifier = new QSocketNotifier(watch->fd, type);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [watch] { dispatch(watch); });
    return notifier;
}

// ERR and HUP need no notifier of their own: poll() reports them with any
// readiness, and a hung-up socket is readable.
void applyWantedEvents(AvahiWatch *watch)
{
    const bool in = watch->wanted & AVAHI_WATCH_IN;
    const bool out = watch->wanted & AVAHI_WATCH_OUT;
    if (in && !watch->reader)
        watch->reader = makeNotifier(watch, QSocketNotifier::Read);
    if (out && !watch->writer)
        watch->writer = makeNotifier(watch, QSocketNotifier::Write);
    if (watch->reader)
        watch->reader->setEnabled(in);
    if (watch->writer)
        watch->writer->setEnabled(out);
}

AvahiWatch *watchNew(const AvahiPoll *, int fd, AvahiWatchEvent event, AvahiWatchCallback callback,
                     void *userdata)
{
    auto *watch = new AvahiWatch{fd, event, AvahiWatchEvent(0), callback, userdata, nullptr, nullptr};
    applyWantedEvents(watch);
    return watch;
}

void watchUpdate(AvahiWatch *watch, AvahiWatchEvent event)
{
    watch->wanted = event;
    applyWantedEvents(watch);
}

AvahiWatchEvent watchGetEvents(AvahiWatch *watch)
{
    return watch->happened;
}

void watchFree(AvahiWatch *watch)
{
    if (watch->reader)
        watch->reader->setEnabled(false);
    if (watch->writer)
        watch->writer->setEnabled(false);
    release(watch->reader);
    release(watch->writer);
    delete watch;
}

// Avahi's deadlines are absolute gettimeofday() times.
int millisecondsUntil(const timeval &deadline)
{
    timeval now;
    gettimeofday(&now, nullptr);
    const qint64 micros = (qint64(deadline.tv_sec) - now.tv_sec) * 1000000 + (deadline.tv_usec - now.tv_usec);
    if (micros <= 0)
        return 0;
    return int(std::min<qint64>((micros + 999) / 1000, INT_MAX));
}

void schedule(AvahiTimeout *timeout, const timeval *deadline)
{
    if (deadline)
        timeout->timer->start(millisecondsUntil(*deadline));
    else
        timeout->timer->stop();
}

AvahiTimeout *timeoutNew(const AvahiPoll *, const timeval *deadline, AvahiTimeoutCallback callback,
                         void *userdata)
{
    auto *timeout = new AvahiTimeout{new QTimer, callback, userdata};
    timeout->timer->setSingleShot(true); // fires once until the next update
    timeout->timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timeout->timer, &QTimer::timeout, timeout->timer, [timeout] {
        // Last statement: the callback may free the timeout.
        timeout->callback(timeout, timeout->userdata);
    });
    schedule(timeout, deadline);
    return timeout;
}

void timeoutUpdate(AvahiTimeout *timeout, const timeval *deadline)
{
    schedule(timeout, deadline);
}

void timeoutFree(AvahiTimeout *timeout)
{
    timeout->timer->stop();
    release(timeout->timer);
    delete timeout;
}

} // namespace

AvahiQtPoll::AvahiQtPoll()
    : m_api{this, watchNew, watchUpdate, watchGetEvents, watchFree, timeoutNew, timeoutUpdate, timeoutFree}
{
}
