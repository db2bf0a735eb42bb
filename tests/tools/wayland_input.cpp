// Real input on a Wayland desktop, through the protocol its compositor offers
// test tools: KWin's org_kde_kwin_fake_input, or wlroots' (sway's)
// zwlr_virtual_pointer_v1. The compositor handles these events as it handles
// a mouse and a keyboard: a panel's icon gets its click from the compositor.
//
//   wayland_input COMMAND...
//   move X Y W H   the pointer to (X, Y) on a W x H screen
//   click BUTTON   press and release: 272 left, 273 right (evdev codes)
//   key CODE       press and release an evdev key code (KWin only)

#include <wayland-client.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

// The two protocols' requests, in their order on the wire.
const wl_interface *none[5] = {};
const wl_message fakeInputRequests[] = {
    {"authenticate", "ss", none},   {"pointer_motion", "ff", none}, {"button", "uu", none},
    {"axis", "uf", none},           {"touch_down", "2uff", none},   {"touch_motion", "2uff", none},
    {"touch_up", "2u", none},       {"touch_cancel", "2", none},    {"touch_frame", "2", none},
    {"pointer_motion_absolute", "3ff", none}, {"keyboard_key", "4uu", none}};
const wl_interface fakeInput = {"org_kde_kwin_fake_input", 4, 11, fakeInputRequests, 0, nullptr};
enum { Authenticate = 0, FakeButton = 2, FakeMotionAbsolute = 9, FakeKey = 10 };

const wl_message virtualPointerRequests[] = {
    {"motion", "uff", none}, {"motion_absolute", "uuuuu", none}, {"button", "uuu", none}, {"axis", "uuf", none},
    {"frame", "", none},     {"axis_source", "u", none},         {"axis_stop", "uu", none},
    {"axis_discrete", "uufi", none}, {"destroy", "", none}};
const wl_interface virtualPointer = {"zwlr_virtual_pointer_v1", 1, 9, virtualPointerRequests, 0, nullptr};
enum { PointerMotionAbsolute = 1, PointerButton = 2, PointerFrame = 4 };
const wl_interface *createTypes[] = {&wl_seat_interface, &virtualPointer};
const wl_message virtualPointerManagerRequests[] = {{"create_virtual_pointer", "?on", createTypes}};
const wl_interface virtualPointerManager = {"zwlr_virtual_pointer_manager_v1", 1, 1, virtualPointerManagerRequests,
                                            0, nullptr};

struct Globals
{
    wl_proxy *fake = nullptr;
    wl_proxy *manager = nullptr;
    wl_proxy *seat = nullptr;
};

void global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    auto *g = static_cast<Globals *>(data);
    if (!std::strcmp(interface, fakeInput.name))
        g->fake = static_cast<wl_proxy *>(wl_registry_bind(registry, name, &fakeInput, version < 4 ? version : 4));
    else if (!std::strcmp(interface, virtualPointerManager.name))
        g->manager = static_cast<wl_proxy *>(wl_registry_bind(registry, name, &virtualPointerManager, 1));
    else if (!std::strcmp(interface, "wl_seat") && !g->seat)
        g->seat = static_cast<wl_proxy *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
}
void globalRemoved(void *, wl_registry *, uint32_t) {}
const wl_registry_listener listener = {global, globalRemoved};

uint32_t now()
{
    using namespace std::chrono;
    return uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

int main(int argc, char **argv)
{
    wl_display *display = wl_display_connect(nullptr);
    if (!display) {
        std::fputs("wayland_input: no Wayland display\n", stderr);
        return 2;
    }
    Globals g;
    wl_registry_add_listener(wl_display_get_registry(display), &listener, &g);
    wl_display_roundtrip(display);
    wl_proxy *pointer = nullptr;
    if (g.fake) {
        wl_proxy_marshal(g.fake, Authenticate, "wayland_input", "a test");
    } else if (g.manager) {
        pointer = wl_proxy_marshal_constructor(g.manager, 0, &virtualPointer, g.seat, nullptr);
        // The seat has a pointer only now: its clients need a moment to take it up.
        wl_display_roundtrip(display);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    } else {
        std::fputs("wayland_input: the compositor offers no input protocol for tests\n", stderr);
        return 2;
    }
    // Pressed and released, each flushed and given time to arrive on its own.
    const auto send = [&](int fakeRequest, int pointerRequest, uint32_t code) {
        for (uint32_t state : {1u, 0u}) {
            if (g.fake)
                wl_proxy_marshal(g.fake, fakeRequest, code, state);
            else if (pointerRequest >= 0) {
                wl_proxy_marshal(pointer, pointerRequest, now(), code, state);
                wl_proxy_marshal(pointer, PointerFrame);
            }
            wl_display_roundtrip(display);
            std::this_thread::sleep_for(std::chrono::milliseconds(60));
        }
    };
    for (int i = 1; i < argc; ++i) {
        const std::string command = argv[i];
        if (command == "move" && i + 4 < argc) {
            const int x = std::atoi(argv[i + 1]), y = std::atoi(argv[i + 2]);
            const int width = std::atoi(argv[i + 3]), height = std::atoi(argv[i + 4]);
            if (g.fake) {
                wl_proxy_marshal(g.fake, FakeMotionAbsolute, wl_fixed_from_int(x), wl_fixed_from_int(y));
            } else {
                wl_proxy_marshal(pointer, PointerMotionAbsolute, now(), x, y, width, height);
                wl_proxy_marshal(pointer, PointerFrame);
            }
            wl_display_roundtrip(display);
            // Panels act on a click only once they know the pointer is over them.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            i += 4;
        } else if (command == "click" && i + 1 < argc) {
            send(FakeButton, PointerButton, uint32_t(std::atoi(argv[++i])));
        } else if (command == "key" && i + 1 < argc && g.fake) {
            send(FakeKey, -1, uint32_t(std::atoi(argv[++i])));
        } else {
            std::fprintf(stderr, "wayland_input: cannot do %s here\n", command.c_str());
            return 2;
        }
    }
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
