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
// the socket is only in /proc/net/tcp6). PORT 0 takes any free port (the same
// one for IPv4 and IPv6). Both forms print "listening" and the first port.
// In the second form, FAKE_PROXY_UNDUMPABLE makes the process not dumpable
// (as file capabilities make a java), and FAKE_PROXY_THEN="ARGV0 ARG..."
// replaces it on SIGHUP, again at the same pid, with that vector.

#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// Listens on the wildcard address; the port it got, or -1.
static int listenOn(int family, int port, int v6only)
{
    // A sockaddr_in is a prefix of a sockaddr_in6: the family, the port, then
    // the IPv4 address where the (zero) flow label is; both wildcards are zeros.
    sockaddr_in6 address{sa_family_t(family), htons(uint16_t(port)), 0, {}, 0};
    socklen_t length = sizeof address; // longer than an IPv4 bind needs, which it allows
    const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0), on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only); // fails harmlessly over IPv4
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || listen(fd, 16) != 0
        || getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return -1;
    return ntohs(address.sin6_port);
}

int main(int argc, char **argv)
{
    int first = -1;
    if (const char *port = std::getenv("FAKE_PROXY_AS")) { // the run under the borrowed vector
        // Started by a launcher script that a test kills, it goes with it
        // rather than hold the port for the next test.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (std::getenv("FAKE_PROXY_UNDUMPABLE"))
            prctl(PR_SET_DUMPABLE, 0);
        if (const char *then = std::getenv("FAKE_PROXY_THEN")) {
            static char vector[1024], *next[16] = {};
            // The environment stays as it is, so that the exec moves nothing in the stat line.
            std::strncpy(vector, then, sizeof vector - 1);
            int words = 0;
            for (char *word = strtok(vector, " "); word && words < 15; word = strtok(nullptr, " "))
                next[words++] = word;
            std::signal(SIGHUP, [](int) { execv("/proc/self/exe", next); });
        }
        first = listenOn(AF_INET6, std::atoi(port), 0);
    } else if (argc >= 4 && std::strcmp(argv[1], "--as") == 0) {
        setenv("FAKE_PROXY_AS", argv[2], 1);
        execv("/proc/self/exe", argv + 3);
    } else {
        // The first port last; IPv6 may be unavailable, IPv4 alone still serves.
        for (int i = argc - 1; i >= 1 && (first = listenOn(AF_INET, std::atoi(argv[i]), 1)) >= 0; --i)
            listenOn(AF_INET6, first, 1);
    }
    if (first < 0) {
        std::perror("fake_proxy PORT [PORT...] | fake_proxy --as PORT ARGV0 [ARG...]");
        return 1;
    }
    dprintf(STDOUT_FILENO, "listening %d\n", first);
    for (;;)
        pause();
}
