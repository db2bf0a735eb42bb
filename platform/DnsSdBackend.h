#pragma once

#include "platform/NetService.h"

#include <memory>

// The DNS-SD publisher of this build's backend: avahi-daemon through
// avahi-client (the default on Linux), or the dns_sd.h API.
std::unique_ptr<NetServicePublisher> createDnsSdPublisher();
