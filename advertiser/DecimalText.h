#pragma once

#include <QStringView>
#include <optional>

// Reads a whole text as a signed decimal integer: an optional single "+" or "-",
// then one or more ASCII digits, and nothing else. Leading zeros are allowed;
// blanks, radix prefixes and non-ASCII digits are not. A value outside the
// signed 64-bit range does not read. The command line, the lsof output and the
// port dialog all read numbers with this one function.
std::optional<qint64> parseDecimal(QStringView text);
