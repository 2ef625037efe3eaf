// The card side of the vpcd virtual reader: a TCP connection to the driver
// inside pcscd. Every message is a 2-byte big-endian length and a payload.
// Connected means "card present"; closing the connection removes the card.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cardsim::vpcd {

using Bytes = std::vector<uint8_t>;

// One-byte messages from the driver.
enum class Control : uint8_t { PowerOff = 0, PowerOn = 1, Reset = 2, GetAtr = 4 };

class VpcdLink {
public:
    VpcdLink() = default;
    ~VpcdLink();
    VpcdLink(const VpcdLink&) = delete;
    VpcdLink& operator=(const VpcdLink&) = delete;

    // One connection attempt; false while the driver is not listening.
    bool Connect(const std::string& host, uint16_t port);
    void Close();
    bool Connected() const { return fd_ >= 0; }
    int Fd() const { return fd_; }

    // Reads one message (call when the socket is readable). Empty optional:
    // the driver closed the connection (the link is closed then).
    std::optional<Bytes> Receive();
    bool Send(const Bytes& payload);

private:
    int fd_ = -1;
};

}  // namespace cardsim::vpcd
