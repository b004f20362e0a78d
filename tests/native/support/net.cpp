#include "support/net.h"

#include "control.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <stdexcept>

static void runIp(const std::vector<std::string>& args)
{
    pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("ip command failed");
}

void addLocalAddress(const std::string& address)
{
    runIp({"ip", "addr", "add", address + "/32", "dev", "lo"});
}

void removeLocalAddress(const std::string& address)
{
    runIp({"ip", "addr", "del", address + "/32", "dev", "lo"});
}

uint32_t ipOf(const std::string& dotted)
{
    in_addr a{};
    inet_pton(AF_INET, dotted.c_str(), &a);
    return ntohl(a.s_addr);
}

static sockaddr_in addressOf(const std::string& address, uint16_t port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

Party::Party(const std::string& address, uint16_t port)
{
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a = addressOf(address, port);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        throw std::runtime_error("cannot bind test party " + address + ":" +
                                 std::to_string(port));
}

Party::~Party()
{
    close(fd_);
}

void Party::sendTo(const std::vector<unsigned char>& bytes, const std::string& address,
                   uint16_t port) const
{
    sockaddr_in a = addressOf(address, port);
    if (sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a) !=
        static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("test party cannot send");
}

std::vector<unsigned char> Party::receive(int timeoutMs, uint32_t* fromIp,
                                          uint16_t* fromPort) const
{
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, platform::usesRealClock() ? timeoutMs : 0) <= 0)
        return {};
    std::vector<unsigned char> bytes(65536);
    sockaddr_in from{};
    socklen_t fromSize = sizeof from;
    ssize_t n = recvfrom(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&from),
                         &fromSize);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (fromIp)
        *fromIp = ntohl(from.sin_addr.s_addr);
    if (fromPort)
        *fromPort = ntohs(from.sin_port);
    return bytes;
}

std::vector<unsigned char> messageBytes(int32_t type, int32_t magic, uint32_t peerIp,
                                        uint16_t peerPort, size_t size)
{
    std::vector<unsigned char> bytes(size < 14 ? 14 : size, 0);
    memcpy(&bytes[0], &type, 4);
    memcpy(&bytes[4], &magic, 4);
    memcpy(&bytes[8], &peerIp, 4);
    memcpy(&bytes[12], &peerPort, 2);
    bytes.resize(size);
    return bytes;
}

ScopedWorkDir::ScopedWorkDir()
{
    previous_ = std::filesystem::current_path().string();
    char pattern[] = "/tmp/punchvpn-test-XXXXXX";
    path_ = mkdtemp(pattern);
    std::filesystem::current_path(path_);
}

ScopedWorkDir::~ScopedWorkDir()
{
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}
