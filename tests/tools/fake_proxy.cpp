// A stand-in for Charles: listens on a TCP port over IPv4 and IPv6 and accepts
// connections until it is killed. Copied into a folder named Charles.app it
// looks like the proxy to the advertiser.
//
//   fake_proxy PORT [PORT...]
//   fake_proxy --as PORT ARGV0 [ARG...]
//
// The second form stands in for Charles on Linux, a Java VM: it replaces
// itself (same pid) with its own executable run under exactly the argument
// vector ARGV0 ARG..., so /proc/PID/cmdline shows that vector, and listens as
// Java does, on the IPv6 wildcard only, taking IPv4 too (lsof shows *:PORT,
// the socket is only in /proc/net/tcp6). PORT 0 takes any free port. Both
// forms print "listening" and the first port.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int listenOn(int family, int port, int v6only = 1)
{
    const int fd = socket(family, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int result;
    if (family == AF_INET6) {
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(uint16_t(port));
        result = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(uint16_t(port));
        result = bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    }
    if (result != 0 || listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

int boundPort(int fd)
{
    sockaddr_in6 address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin6_port); // sin_port lies at the same place
}

[[noreturn]] void serve(const std::vector<int> &sockets)
{
    std::printf("listening %d\n", boundPort(sockets.front()));
    std::fflush(stdout);
    for (;;)
        pause();
}

} // namespace

int main(int argc, char **argv)
{
    if (const char *port = std::getenv("FAKE_PROXY_AS")) { // the run under the borrowed vector
        // Started by a launcher script that a test kills, it goes with it
        // rather than hold the port for the next test.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int fd = listenOn(AF_INET6, std::atoi(port), 0);
        if (fd < 0) {
            std::perror("fake_proxy: IPv6");
            return 1;
        }
        serve({fd});
    }
    if (argc >= 4 && std::strcmp(argv[1], "--as") == 0) {
        setenv("FAKE_PROXY_AS", argv[2], 1);
        execv("/proc/self/exe", argv + 3);
        std::perror("fake_proxy: exec");
        return 1;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: fake_proxy PORT [PORT...] | fake_proxy --as PORT ARGV0 [ARG...]\n");
        return 2;
    }
    std::vector<int> sockets;
    for (int i = 1; i < argc; ++i) {
        const int port = std::atoi(argv[i]);
        const int v4 = listenOn(AF_INET, port);
        if (v4 < 0) {
            std::perror("fake_proxy: IPv4");
            return 1;
        }
        sockets.push_back(v4);
        // IPv6 may be unavailable; IPv4 alone still serves.
        if (const int v6 = listenOn(AF_INET6, port); v6 >= 0)
            sockets.push_back(v6);
    }
    serve(sockets);
}
