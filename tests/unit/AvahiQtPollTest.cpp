// The Avahi poll adapter on the Qt event loop, with pipes for descriptors.
#include "platform/AvahiQtPoll.h"

#include <QTest>

#include <avahi-common/timeval.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

// What a callback saw. A watch is freed from inside its first callback; a
// timeout is rescheduled from inside `rearm` times and then freed from inside,
// or neither when rearm is -1.
struct Calls
{
    const AvahiPoll *api;
    int rearm = -1, count = 0, events = 0, reported = 0; // reported: watch_get_events from inside
};

static void onWatch(AvahiWatch *watch, int, AvahiWatchEvent event, void *data)
{
    auto *calls = static_cast<Calls *>(data);
    ++calls->count;
    calls->events = event;
    calls->reported = calls->api->watch_get_events(watch);
    calls->api->watch_free(watch);
}

static void onTimeout(AvahiTimeout *timeout, void *data)
{
    auto *calls = static_cast<Calls *>(data);
    timeval next;
    if (++calls->count <= calls->rearm)
        calls->api->timeout_update(timeout, avahi_elapse_time(&next, 10, 0));
    else if (calls->rearm >= 0)
        calls->api->timeout_free(timeout);
}

TEST(AvahiQtPoll, WatchesAndTimeouts)
{
    AvahiQtPoll poll;
    const AvahiPoll *api = poll.api();
    // Events wanted, the end of a pipe watched, the end closed after a byte
    // is written (-1: none), what the callback must be told.
    const std::tuple<const char *, AvahiWatchEvent, int, int, int> cases[] = {
        {"readable", AVAHI_WATCH_IN, 0, -1, AVAHI_WATCH_IN}, {"writable", AVAHI_WATCH_OUT, 1, -1, AVAHI_WATCH_OUT},
        {"hang-up", AVAHI_WATCH_IN, 0, 1, AVAHI_WATCH_HUP}, {"error", AVAHI_WATCH_OUT, 1, 0, AVAHI_WATCH_ERR}};
    for (const auto &[what, wanted, watched, closed, told] : cases) {
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        Calls got{api};
        AvahiWatch *watch = api->watch_new(api, fds[watched], wanted, onWatch, &got);
        api->watch_update(watch, AvahiWatchEvent(0)); // silent until wanted again
        ASSERT_EQ(::write(fds[1], "x", 1), 1);
        if (closed >= 0)
            ::close(std::exchange(fds[closed], -1));
        QTest::qWait(50);
        EXPECT_EQ(got.count, 0) << what;
        api->watch_update(watch, wanted);
        EXPECT_TRUE(QTest::qWaitFor([&] { return got.count > 0; }, 2000)) << what;
        QTest::qWait(50); // freed: the descriptor, ready still, is watched no more
        EXPECT_EQ(std::tuple(got.count, got.events & told, got.reported), std::tuple(1, told, got.events)) << what;
        for (int fd : fds)
            ::close(fd);
    }

    // Timeouts fire once at their deadline, never from inside timeout_new,
    // not when disabled, at once when past.
    Calls once{api}, rearming{api, 2};
    timeval deadline, soon, past{1, 0};
    AvahiTimeout *timeout = api->timeout_new(api, avahi_elapse_time(&deadline, 30, 0), onTimeout, &once);
    EXPECT_TRUE(QTest::qWaitFor([&] { return once.count == 1; }, 2000));
    EXPECT_GE(avahi_age(&deadline), 0);
    api->timeout_update(timeout, avahi_elapse_time(&soon, 30, 0)); // disabled by a null deadline before it comes
    api->timeout_update(timeout, nullptr);
    api->timeout_new(api, &past, onTimeout, &rearming); // at once, then twice more, then freed inside
    EXPECT_TRUE(QTest::qWaitFor([&] { return rearming.count == 3; }, 2000));
    QTest::qWait(100);
    EXPECT_EQ(std::pair(once.count, rearming.count), std::pair(1, 3));
    api->timeout_free(timeout);
}
