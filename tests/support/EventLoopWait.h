#pragma once

// Bounded waiting for tests: runs the event loop until a condition holds or
// the time is up. Only tests wait like this; the program itself never does.

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <functional>

// True as soon as done() holds (checked at once and then every few
// milliseconds while the event loop runs); false when the time ran out first.
inline bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    if (done())
        return true;
    const QDeadlineTimer deadline(timeout);
    QEventLoop loop;
    QTimer tick;
    bool result = false;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done()) {
            result = true;
            loop.quit();
        } else if (deadline.hasExpired()) {
            loop.quit();
        }
    });
    tick.start(std::chrono::milliseconds(5));
    loop.exec();
    return result;
}

// Runs the event loop for this long, whatever happens.
inline void runEventLoopFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}
