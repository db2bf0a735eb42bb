#pragma once

#include <QtGlobal>
#include <optional>

// The exit status when another copy (in either mode) already publishes for
// this user; the user unit does not restart on it.
constexpr int anotherCopyRuns = 3;

// Runs headless: one advertiser that prints each new status line on standard
// output, until the process is killed.
int runCommandLineMode(int &argc, char **argv, std::optional<qint64> port);
