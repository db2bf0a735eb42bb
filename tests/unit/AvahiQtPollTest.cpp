// The Avahi poll adapter on the Qt event loop, with pipes for descriptors.
#include "platform/AvahiQtPoll.h"

#include "support/EventLoopWait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// What a callback saw; a callback may free its watch or timeout, or
// reschedule the timeout, from inside.
struct Calls
{
    const AvahiPoll *api = nullptr;
    int count = 0;
    int events = 0;
    int reported = 0; // watch_get_events from inside the callback
    bool freeInside = false;
    int rearm = 0;
};

timeval fromNow(std::chrono::milliseconds delay)
{
    timeval now;
    gettimeofday(&now, nullptr);
    const long long micros = now.tv_usec + std::chrono::microseconds(delay).count();
    return timeval{time_t(now.tv_sec + micros / 1000000), suseconds_t(micros % 1000000)};
}

void onWatch(AvahiWatch *watch, int fd, AvahiWatchEvent event, void *data)
{
    auto *calls = static_cast<Calls *>(data);
    ++calls->count;
    calls->events = event;
    calls->reported = calls->api->watch_get_events(watch);
    char buffer[64];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
    if (calls->freeInside)
        calls->api->watch_free(watch);
}

void onTimeout(AvahiTimeout *timeout, void *data)
{
    auto *calls = static_cast<Calls *>(data);
    ++calls->count;
    if (calls->rearm > 0 && calls->rearm--) {
        const timeval next = fromNow(10ms);
        calls->api->timeout_update(timeout, &next);
    }
    if (calls->freeInside)
        calls->api->timeout_free(timeout);
}

TEST(AvahiQtPoll, WatchReportsWhatTheDescriptorSaysOnce)
{
    const struct
    {
        const char *what;
        AvahiWatchEvent wanted;
        bool writeEnd; // watch the pipe's write end
        int closeEnd;  // -1: write a byte; 0/1: close the read/write end
        int expected;
    } cases[] = {
        {"readable", AVAHI_WATCH_IN, false, -1, AVAHI_WATCH_IN},
        {"writable", AVAHI_WATCH_OUT, true, 2, AVAHI_WATCH_OUT},
        {"hang-up", AVAHI_WATCH_IN, false, 1, AVAHI_WATCH_HUP},
        {"error", AVAHI_WATCH_OUT, true, 0, AVAHI_WATCH_ERR},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        AvahiQtPoll poll;
        int fds[2];
        ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
        Calls calls{poll.api()};
        calls.freeInside = true; // once is enough; also checks freeing from inside
        poll.api()->watch_new(poll.api(), fds[c.writeEnd ? 1 : 0], c.wanted, onWatch, &calls);
        if (c.closeEnd == -1)
            ASSERT_EQ(::write(fds[1], "x", 1), 1);
        else if (c.closeEnd < 2)
            ::close(std::exchange(fds[c.closeEnd], -1));
        EXPECT_TRUE(waitUntil([&] { return calls.count > 0; }, 2s));
        runEventLoopFor(50ms);
        EXPECT_EQ(calls.count, 1);
        EXPECT_EQ(calls.events & c.expected, c.expected) << "got " << calls.events;
        EXPECT_EQ(calls.reported, calls.events);
        for (int fd : fds)
            if (fd >= 0)
                ::close(fd);
    }
}

TEST(AvahiQtPoll, WatchUpdateSilencesAndRearmsAndFreeEnds)
{
    AvahiQtPoll poll;
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0);
    Calls calls{poll.api()};
    AvahiWatch *watch = poll.api()->watch_new(poll.api(), fds[0], AVAHI_WATCH_IN, onWatch, &calls);
    poll.api()->watch_update(watch, AvahiWatchEvent(0));
    ASSERT_EQ(::write(fds[1], "x", 1), 1);
    runEventLoopFor(100ms);
    EXPECT_EQ(calls.count, 0);
    poll.api()->watch_update(watch, AVAHI_WATCH_IN);
    EXPECT_TRUE(waitUntil([&] { return calls.count == 1; }, 2s));
    runEventLoopFor(50ms);
    EXPECT_EQ(calls.count, 1); // drained: level-triggered, but nothing left
    poll.api()->watch_free(watch);
    ASSERT_EQ(::write(fds[1], "y", 1), 1);
    runEventLoopFor(100ms);
    EXPECT_EQ(calls.count, 1);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(AvahiQtPoll, TimeoutsFireOnceAtTheirDeadline)
{
    AvahiQtPoll poll;
    const AvahiPoll *api = poll.api();

    Calls once{api};
    const timeval deadline = fromNow(30ms);
    AvahiTimeout *timeout = api->timeout_new(api, &deadline, onTimeout, &once);
    EXPECT_EQ(once.count, 0) << "never from inside timeout_new";
    EXPECT_TRUE(waitUntil([&] { return once.count == 1; }, 2s));
    const timeval now = fromNow(0ms);
    EXPECT_TRUE(timercmp(&now, &deadline, >=));
    // A pending deadline is disabled by a null one; a past one fires at once.
    const timeval soon = fromNow(30ms);
    api->timeout_update(timeout, &soon);
    api->timeout_update(timeout, nullptr);
    runEventLoopFor(100ms);
    EXPECT_EQ(once.count, 1);
    const timeval past{1, 0};
    api->timeout_update(timeout, &past);
    EXPECT_TRUE(waitUntil([&] { return once.count == 2; }, 1s));
    api->timeout_free(timeout);

    Calls rearming{api};
    rearming.rearm = 2;
    timeout = api->timeout_new(api, &now, onTimeout, &rearming);
    EXPECT_TRUE(waitUntil([&] { return rearming.count == 3; }, 2s));
    api->timeout_free(timeout);

    Calls freeing{api};
    freeing.freeInside = true;
    api->timeout_new(api, &now, onTimeout, &freeing);
    runEventLoopFor(100ms);
    EXPECT_EQ(rearming.count, 3);
    EXPECT_EQ(freeing.count, 1);
}

} // namespace
