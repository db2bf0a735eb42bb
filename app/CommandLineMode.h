#pragma once

#include <QtGlobal>
#include <optional>

// Runs headless: one advertiser that prints each new status line on standard
// output, until the process is killed.
int runCommandLineMode(int &argc, char **argv, std::optional<qint64> port);
