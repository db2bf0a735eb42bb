// The Avahi poll adapter on the Qt event loop, with pipes for descriptors.
#include "platform/AvahiQtPoll.h"

#include "support/EventLoopWait.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

struct Pipe
{
    int read = -1;
    int write = -1;
    Pipe()
    {
        int fds[2];
        if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
    ~Pipe()
    {
        closeRead();
        closeWrite();
    }
    void closeRead()
    {
        if (read >= 0)
            ::close(read);
        read = -1;
    }
    void closeWrite()
    {
        if (write >= 0)
            ::close(write);
        write = -1;
    }
};

struct WatchRecord
{
    const AvahiPoll *api = nullptr;
    int calls = 0;
    AvahiWatchEvent last = AvahiWatchEvent(0);
    AvahiWatchEvent reported = AvahiWatchEvent(0); // watch_get_events inside the callback
    bool freeInCallback = false;
    bool drain = false;
};

void watchCallback(AvahiWatch *watch, int fd, AvahiWatchEvent event, void *userdata)
{
    auto *record = static_cast<WatchRecord *>(userdata);
    ++record->calls;
    record->last = event;
    record->reported = record->api->watch_get_events(watch);
    if (record->drain) {
        char buffer[64];
        while (::read(fd, buffer, sizeof buffer) > 0) {
        }
    }
    if (record->freeInCallback)
        record->api->watch_free(watch);
}

struct WatchCase
{
    const char *what;
    AvahiWatchEvent wanted;
    bool watchWriteEnd;
    void (*provoke)(Pipe &);
    int expectedEvents; // all of these must be reported
    friend void PrintTo(const WatchCase &c, std::ostream *os) { *os << c.what; }
};

class AvahiQtPollWatch : public testing::TestWithParam<WatchCase>
{
};

TEST_P(AvahiQtPollWatch, ReportsWhatTheDescriptorSays)
{
    const WatchCase &c = GetParam();
    AvahiQtPoll poll;
    Pipe pipe;
    ASSERT_GE(pipe.read, 0);
    WatchRecord record;
    record.api = poll.api();
    record.freeInCallback = true; // once is enough; also checks freeing from inside
    AvahiWatch *watch =
        poll.api()->watch_new(poll.api(), c.watchWriteEnd ? pipe.write : pipe.read, c.wanted, watchCallback, &record);
    ASSERT_NE(watch, nullptr);
    c.provoke(pipe);
    EXPECT_TRUE(waitUntil([&] { return record.calls > 0; }, 2s)) << c.what;
    runEventLoopFor(50ms);
    EXPECT_EQ(record.calls, 1) << c.what;
    EXPECT_EQ(record.last & c.expectedEvents, c.expectedEvents) << c.what << ": got " << record.last;
    EXPECT_EQ(record.reported, record.last) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Events, AvahiQtPollWatch,
    testing::Values(
        WatchCase{"readable", AVAHI_WATCH_IN, false, [](Pipe &p) { ASSERT_EQ(::write(p.write, "x", 1), 1); },
                  AVAHI_WATCH_IN},
        WatchCase{"writable", AVAHI_WATCH_OUT, true, [](Pipe &) {}, AVAHI_WATCH_OUT},
        WatchCase{"hang-up", AVAHI_WATCH_IN, false, [](Pipe &p) { p.closeWrite(); }, AVAHI_WATCH_HUP},
        WatchCase{"error", AVAHI_WATCH_OUT, true, [](Pipe &p) { p.closeRead(); }, AVAHI_WATCH_ERR}),
    [](const testing::TestParamInfo<WatchCase> &info) {
        std::string name = info.param.what;
        for (char &c : name)
            if (c == '-')
                c = '_';
        return name;
    });

TEST(AvahiQtPollWatch, UpdateToNoEventsSilencesAndUpdateBackRearms)
{
    AvahiQtPoll poll;
    Pipe pipe;
    WatchRecord record;
    record.api = poll.api();
    AvahiWatch *watch = poll.api()->watch_new(poll.api(), pipe.read, AVAHI_WATCH_IN, watchCallback, &record);
    poll.api()->watch_update(watch, AvahiWatchEvent(0));
    ASSERT_EQ(::write(pipe.write, "x", 1), 1);
    runEventLoopFor(100ms);
    EXPECT_EQ(record.calls, 0);

    record.drain = true;
    poll.api()->watch_update(watch, AVAHI_WATCH_IN);
    EXPECT_TRUE(waitUntil([&] { return record.calls == 1; }, 2s));
    runEventLoopFor(50ms);
    EXPECT_EQ(record.calls, 1); // drained: level-triggered, but nothing left
    poll.api()->watch_free(watch);
    ASSERT_EQ(::write(pipe.write, "y", 1), 1);
    runEventLoopFor(100ms);
    EXPECT_EQ(record.calls, 1);
}

struct TimeoutRecord
{
    const AvahiPoll *api = nullptr;
    int calls = 0;
    int rearmTimes = 0;   // reschedule itself from inside the callback this often
    bool freeInCallback = false;
};

timeval fromNow(std::chrono::milliseconds delay)
{
    timeval now;
    gettimeofday(&now, nullptr);
    const long long micros = now.tv_usec + std::chrono::duration_cast<std::chrono::microseconds>(delay).count();
    return timeval{time_t(now.tv_sec + micros / 1000000), suseconds_t(micros % 1000000)};
}

void timeoutCallback(AvahiTimeout *timeout, void *userdata)
{
    auto *record = static_cast<TimeoutRecord *>(userdata);
    ++record->calls;
    if (record->rearmTimes > 0) {
        --record->rearmTimes;
        const timeval next = fromNow(10ms);
        record->api->timeout_update(timeout, &next);
    }
    if (record->freeInCallback)
        record->api->timeout_free(timeout);
}

TEST(AvahiQtPollTimeout, FiresOnceAtItsDeadline)
{
    AvahiQtPoll poll;
    TimeoutRecord record;
    record.api = poll.api();
    const timeval deadline = fromNow(30ms);
    AvahiTimeout *timeout = poll.api()->timeout_new(poll.api(), &deadline, timeoutCallback, &record);
    EXPECT_EQ(record.calls, 0);
    EXPECT_TRUE(waitUntil([&] { return record.calls == 1; }, 2s));
    timeval now;
    gettimeofday(&now, nullptr);
    EXPECT_TRUE(now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_usec >= deadline.tv_usec));
    runEventLoopFor(100ms);
    EXPECT_EQ(record.calls, 1);
    poll.api()->timeout_free(timeout);
}

TEST(AvahiQtPollTimeout, NullDeadlineDisablesAndPastDeadlineFiresAtOnce)
{
    AvahiQtPoll poll;
    TimeoutRecord record;
    record.api = poll.api();
    AvahiTimeout *timeout = poll.api()->timeout_new(poll.api(), nullptr, timeoutCallback, &record);
    runEventLoopFor(50ms);
    EXPECT_EQ(record.calls, 0);

    const timeval past{1, 0};
    poll.api()->timeout_update(timeout, &past);
    EXPECT_TRUE(waitUntil([&] { return record.calls == 1; }, 1s));

    const timeval soon = fromNow(30ms);
    poll.api()->timeout_update(timeout, &soon);
    poll.api()->timeout_update(timeout, nullptr);
    runEventLoopFor(100ms);
    EXPECT_EQ(record.calls, 1);
    poll.api()->timeout_free(timeout);
}

TEST(AvahiQtPollTimeout, MayBeRescheduledAndFreedFromItsOwnCallback)
{
    AvahiQtPoll poll;
    TimeoutRecord rearming;
    rearming.api = poll.api();
    rearming.rearmTimes = 2;
    const timeval now = fromNow(0ms);
    AvahiTimeout *timeout = poll.api()->timeout_new(poll.api(), &now, timeoutCallback, &rearming);
    EXPECT_TRUE(waitUntil([&] { return rearming.calls == 3; }, 2s));
    runEventLoopFor(50ms);
    EXPECT_EQ(rearming.calls, 3);
    poll.api()->timeout_free(timeout);

    TimeoutRecord freeing;
    freeing.api = poll.api();
    freeing.freeInCallback = true;
    poll.api()->timeout_new(poll.api(), &now, timeoutCallback, &freeing);
    EXPECT_TRUE(waitUntil([&] { return freeing.calls == 1; }, 2s));
    runEventLoopFor(50ms);
    EXPECT_EQ(freeing.calls, 1);
}

} // namespace
