// A simulated CardOS smart card: ISO 7816-4 file system, PIN objects,
// on-card RSA keys and the CardOS proprietary commands, driven by raw APDUs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Botan {
class RSA_PrivateKey;
}

namespace cardsim {

namespace detail {
struct CardState;
}

using Bytes = std::vector<uint8_t>;

enum class CardOs { V43B, V44, V50, Unknown };

// The response length a command APDU asks for (Ne): 256 or 65536 for a zero
// Le, 0 when it has no Le or is malformed.
std::size_t ExpectedLength(const Bytes& apdu);

// Behaviour switches. The defaults are what the real cards are taken to do;
// the strict variants follow ISO 7816-4 to the letter.
struct CardOptions {
    // SELECT by path from the MF (P1 08): accept a path that starts with 3F00.
    bool acceptMfInPathFromMf = true;
    // GET DATA and LIST sent without Le still answer with their data.
    bool dataWithoutLe = true;
    // Extended-length APDUs are accepted (a strict 4.3B answers 67 00).
    bool extendedLength = true;
    // PIN status query (VERIFY without data) on a verified PIN answers 90 00;
    // when false it answers 63 Cx like an unverified PIN.
    bool pinStatus9000WhenVerified = true;
    // GET CHALLENGE answers from a seeded generator (reproducible transcripts).
    bool deterministicChallenge = false;
    // An unprotected command ends an open secure-messaging session.
    bool plainCommandEndsSecureMessaging = false;
};

struct PinStatus {
    uint8_t reference = 0;
    int retriesLeft = 0;
    int retryMax = 0;
    bool blocked = false;
    bool usable = true;
    bool verified = false;
};

// Keys named by the current security environment (MSE SET).
struct EnvironmentStatus {
    std::optional<uint8_t> signatureKey;
    std::optional<uint8_t> decipherKey;
};

class Card {
public:
    explicit Card(std::unique_ptr<detail::CardState> state);
    ~Card();
    Card(const Card&) = delete;
    Card& operator=(const Card&) = delete;

    // Personalisation name the card was built from.
    std::string Name() const;
    CardOs Os() const;
    Bytes Atr() const;
    // Power-on / warm reset: security status and environment cleared, MF
    // current, record pointers cleared; retry counters and files persist.
    void Reset();
    // One command APDU in, response data followed by SW1 SW2 out.
    Bytes Transmit(const Bytes& apdu);

    CardOptions Options() const;
    void SetOptions(const CardOptions& options);

    // --- inspection for tests ---
    // The user PIN (reference 01) as the card stores it, without padding.
    std::string UserPin() const;
    std::optional<PinStatus> Pin(uint8_t reference) const;
    void SetPinRetriesLeft(uint8_t reference, int retriesLeft);
    // References of verified PINs, as GET DATA 01 84 reports them.
    Bytes SecurityStatus() const;
    uint8_t LifeCycle() const;
    // FIDs from the MF to the current DF (the MF itself is 3F 00), and the
    // current EF when one is selected.
    Bytes CurrentDfPath() const;
    std::optional<uint16_t> CurrentEf() const;
    EnvironmentStatus Environment() const;
    // True while secure messaging (chip or mutual authentication) is in force.
    bool SecureMessagingActive() const;
    // Keys of the application container (cards that have one): the
    // authentication key 95 (16 or 24 bytes) and the Triple-DES key that
    // derives the session key 17 from the two challenges.
    void SetApplicationContainerKeys(const Bytes& authenticationKey, const Bytes& derivationKey);
    // Contents of a transparent EF, path of FIDs from the MF (a leading
    // 3F 00 is optional). Empty optional when there is no such EF.
    std::optional<Bytes> FileContents(const Bytes& path) const;
    // Records of a record EF (1-based record n is element n-1).
    std::optional<std::vector<Bytes>> Records(const Bytes& path) const;
    // Private key `keyReference` held by the DF at `dfPath` (from the MF).
    const Botan::RSA_PrivateKey* Key(const Bytes& dfPath, uint8_t keyReference) const;
    // What the card keeps across power-offs, one line per item: files,
    // records, keys, PINs with their retry counters, data objects and the
    // life cycle. Two snapshots are equal when nothing on the card changed.
    std::vector<std::string> StateLines() const;

private:
    mutable std::mutex mutex_;
    std::unique_ptr<detail::CardState> state_;
};

}  // namespace cardsim
