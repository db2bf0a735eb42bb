// The Avahi poll adapter on the Qt event loop, with pipes for descriptors.
#include "platform/AvahiQtPoll.h"

#include "support/EventLoopWait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

using namespace std::chrono_literals;

// What a callback saw. A watch is freed from inside its first callback; a
// timeout may be rescheduled (rearm times) or freed from inside.
struct Calls
{
    const AvahiPoll *api;
    bool freeInside = false;
    int rearm = 0, count = 0, events = 0, reported = 0; // reported: watch_get_events from inside
};

static timeval fromNow(std::chrono::milliseconds delay)
{
    timeval now;
    gettimeofday(&now, nullptr);
    const long long micros = now.tv_usec + delay.count() * 1000;
    return timeval{time_t(now.tv_sec + micros / 1000000), suseconds_t(micros % 1000000)};
}

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
    ++calls->count;
    const timeval next = fromNow(10ms);
    if (calls->rearm-- > 0)
        calls->api->timeout_update(timeout, &next);
    if (calls->freeInside)
        calls->api->timeout_free(timeout);
}

TEST(AvahiQtPoll, WatchSaysWhatTheDescriptorSaysOnceWhenWantedAndIsFreedInside)
{
    // Events wanted, the end of a pipe watched, the end closed (2: a byte is
    // written instead, -1: nothing done), what the callback must be told.
    const std::tuple<const char *, AvahiWatchEvent, int, int, int> cases[] = {
        {"readable", AVAHI_WATCH_IN, 0, 2, AVAHI_WATCH_IN}, {"writable", AVAHI_WATCH_OUT, 1, -1, AVAHI_WATCH_OUT},
        {"hang-up", AVAHI_WATCH_IN, 0, 1, AVAHI_WATCH_HUP}, {"error", AVAHI_WATCH_OUT, 1, 0, AVAHI_WATCH_ERR}};
    for (const auto &[what, wanted, watched, closed, expected] : cases) {
        AvahiQtPoll poll;
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        Calls calls{poll.api()};
        AvahiWatch *watch = poll.api()->watch_new(poll.api(), fds[watched], wanted, onWatch, &calls);
        poll.api()->watch_update(watch, AvahiWatchEvent(0)); // silent until wanted again
        if (closed == 2)
            ASSERT_EQ(::write(fds[1], "x", 1), 1);
        else if (closed >= 0)
            ::close(std::exchange(fds[closed], -1));
        runEventLoopFor(50ms);
        EXPECT_EQ(calls.count, 0) << what;
        poll.api()->watch_update(watch, wanted);
        EXPECT_TRUE(waitUntil([&] { return calls.count > 0; }, 2s)) << what;
        runEventLoopFor(50ms); // freed: the descriptor, ready still, is watched no more
        EXPECT_TRUE(calls.count == 1 && (calls.events & expected) && calls.reported == calls.events)
            << what << ": " << calls.count << " calls, events " << calls.events << ", reported " << calls.reported;
        for (int fd : fds)
            ::close(fd);
    }
}

TEST(AvahiQtPoll, TimeoutsFireOnceAtTheirDeadlineUnlessDisabled)
{
    AvahiQtPoll poll;
    const AvahiPoll *api = poll.api();
    Calls once{api}, rearming{api, false, 2}, freeing{api, true};
    const timeval deadline = fromNow(30ms), past{1, 0};
    AvahiTimeout *timeout = api->timeout_new(api, &deadline, onTimeout, &once);
    EXPECT_EQ(once.count, 0) << "never from inside timeout_new";
    EXPECT_TRUE(waitUntil([&] { return once.count == 1; }, 2s));
    const timeval now = fromNow(0ms), soon = fromNow(30ms);
    EXPECT_TRUE(timercmp(&now, &deadline, >=));
    api->timeout_update(timeout, &soon); // disabled by a null deadline before it comes
    api->timeout_update(timeout, nullptr);
    AvahiTimeout *rearmed = api->timeout_new(api, &past, onTimeout, &rearming); // at once, then twice more
    api->timeout_new(api, &past, onTimeout, &freeing);
    EXPECT_TRUE(waitUntil([&] { return rearming.count == 3 && freeing.count == 1; }, 2s));
    runEventLoopFor(100ms);
    EXPECT_EQ(std::tuple(once.count, rearming.count, freeing.count), std::tuple(1, 3, 1));
    api->timeout_free(timeout);
    api->timeout_free(rearmed);
}
