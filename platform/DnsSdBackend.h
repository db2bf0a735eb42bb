#pragma once

#include "platform/NetService.h"

#include <memory>

// The DNS-SD publisher of this build's backend (avahi-daemon on Linux).
std::unique_ptr<NetServicePublisher> createDnsSdPublisher();
