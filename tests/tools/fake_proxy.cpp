// A stand-in for Charles: listens on a TCP port over IPv4 and IPv6 and accepts
// connections until it is killed. Copied into a folder named Charles.app it
// looks like the proxy to the advertiser.
//
//   fake_proxy PORT [PORT...]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

int listenOn(int family, int port)
{
    const int fd = socket(family, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    int result;
    if (family == AF_INET6) {
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
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

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: fake_proxy PORT [PORT...]\n");
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
    std::printf("listening\n");
    std::fflush(stdout);
    for (;;)
        pause();
}
