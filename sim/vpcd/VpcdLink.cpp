#include "VpcdLink.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace cardsim::vpcd {

namespace {

// The driver sends a command's length and its bytes in two writes; with
// Nagle's algorithm on its side the second waits for our acknowledgement,
// which Linux delays by up to 40 ms unless asked for at once. The kernel
// clears the request after a while, so it is renewed before every read.
void AcknowledgeAtOnce(int fd)
{
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

bool ReadExactly(int fd, uint8_t* buffer, size_t size)
{
    while (size > 0) {
        AcknowledgeAtOnce(fd);
        const ssize_t got = ::recv(fd, buffer, size, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        buffer += got;
        size -= size_t(got);
    }
    return true;
}

bool WriteExactly(int fd, const uint8_t* buffer, size_t size)
{
    while (size > 0) {
        const ssize_t sent = ::send(fd, buffer, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        buffer += sent;
        size -= size_t(sent);
    }
    return true;
}

}  // namespace

VpcdLink::~VpcdLink()
{
    Close();
}

bool VpcdLink::Connect(const std::string& host, uint16_t port)
{
    Close();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &addresses) != 0) {
        return false;
    }
    for (const addrinfo* a = addresses; a != nullptr && fd_ < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            continue;
        }
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) {
            // Every answer is one small message that the driver waits for:
            // without this, Nagle's algorithm holds it back until the
            // driver's delayed acknowledgement, about 40 ms per APDU.
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            fd_ = fd;
        } else {
            ::close(fd);
        }
    }
    ::freeaddrinfo(addresses);
    return fd_ >= 0;
}

void VpcdLink::Close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::optional<Bytes> VpcdLink::Receive()
{
    uint8_t header[2];
    if (!ReadExactly(fd_, header, sizeof header)) {
        Close();
        return std::nullopt;
    }
    Bytes payload(size_t(header[0]) << 8 | header[1]);
    if (!payload.empty() && !ReadExactly(fd_, payload.data(), payload.size())) {
        Close();
        return std::nullopt;
    }
    return payload;
}

bool VpcdLink::Send(const Bytes& payload)
{
    // The 16-bit length field limits what fits into one message.
    if (payload.size() > 0xFFFF) {
        return false;
    }
    // Length and payload leave in one write, so the driver gets them in one segment.
    Bytes message;
    message.reserve(2 + payload.size());
    message.push_back(uint8_t(payload.size() >> 8));
    message.push_back(uint8_t(payload.size()));
    message.insert(message.end(), payload.begin(), payload.end());
    if (!WriteExactly(fd_, message.data(), message.size())) {
        Close();
        return false;
    }
    return true;
}

}  // namespace cardsim::vpcd
