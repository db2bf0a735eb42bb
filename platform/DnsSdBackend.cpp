#include "platform/DnsSdBackend.h"

#if defined(QUILLFEN_DNSSD_BACKEND_DNSSD)
#include "platform/DnsSdPublisher.h"
using BackendPublisher = DnsSdPublisher;
#else
#include "platform/AvahiPublisher.h"
using BackendPublisher = AvahiPublisher;
#endif

std::unique_ptr<NetServicePublisher> createDnsSdPublisher()
{
    return std::make_unique<BackendPublisher>();
}
