#pragma once

#include "platform/RunningApplications.h"

#include <vector>

// Charles is the first running application whose bundle identifier is
// "com.xk72.Charles", or failing that whose bundle folder is named
// "Charles.app" (both compared exactly). Nothing when none matches.
const RunningApplication *findProxyApplication(const std::vector<RunningApplication> &applications);
