#pragma once

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/strlst.h>

#include <memory>

// Owning handles for the avahi-client objects. An entry group must be freed
// before the client it belongs to (avahi_client_free frees any group still
// alive, which would leave its handle dangling).

struct AvahiClientDeleter
{
    void operator()(AvahiClient *client) const { avahi_client_free(client); }
};
using AvahiClientPtr = std::unique_ptr<AvahiClient, AvahiClientDeleter>;

struct AvahiEntryGroupDeleter
{
    void operator()(AvahiEntryGroup *group) const { avahi_entry_group_free(group); }
};
using AvahiEntryGroupPtr = std::unique_ptr<AvahiEntryGroup, AvahiEntryGroupDeleter>;

struct AvahiStringListDeleter
{
    void operator()(AvahiStringList *list) const { avahi_string_list_free(list); }
};
using AvahiStringListPtr = std::unique_ptr<AvahiStringList, AvahiStringListDeleter>;
