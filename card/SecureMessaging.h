#pragma once
// The secure-channel context of one card and the ISO/IEC 7816-4 secure
// messaging codec that protects its commands (Triple-DES encipherment,
// retail-MAC checksum, optional send sequence counter).

#include <cstdint>
#include <memory>
#include <vector>

#include "OctetStringHolder.h"
#include "SessionKeyPair.h"
#include "TripleDES.h"
#include "card/Apdu.h"
#include "card/ApduTransport.h"

namespace Brelt::MW::Card {

// The kind of secure channel a card has open.
class Authentication {
public:
    // 2: application-container channel; 4: chip-authentication channel.
    explicit Authentication(uint32_t type) : type_(type) {}
    virtual ~Authentication() = default;
    Authentication(const Authentication&) = delete;
    Authentication& operator=(const Authentication&) = delete;

    uint32_t GetType() const { return type_; }
    void SetType(uint32_t type) { type_ = type; }

private:
    uint32_t type_;
};

// Mode of EncodeCommand.
inline constexpr int32_t kSmHeaderOnly = 1;     // data in plain (a PIN pad fills it in)
inline constexpr int32_t kSmWholeCommand = 2;   // data enciphered, whole command protected

// Nonzero result of a response that fails its check.
inline constexpr CK_RV kSmResponseRefused = CKR_FUNCTION_FAILED;

class SecureMessaging final : public Authentication, public ApduProtector {
public:
    static constexpr uint32_t kAppContainerType = 2;
    static constexpr uint32_t kChipAuthenticationType = 4;

    SecureMessaging();
    ~SecureMessaging() override;

    // One key for encipherment and MAC; no counter. Takes the key over.
    CK_RV SetSessionKey(std::unique_ptr<uint8_t[]> key, uint16_t keyLength);
    // K_enc = first, K_mac = second; counterFlag nonzero starts a counter of
    // eight zero bytes. CKR_ARGUMENTS_BAD for a null pair.
    CK_RV SetSessionKey(const Brelt::Crypto::SessionKeyPair* pair, uint32_t counterFlag);

    // Sets the counter of a context installed with one (8 bytes); channels
    // that start from another value than zero (ICAO 9303 basic access
    // control) set theirs here. False, and nothing changed, otherwise.
    bool SetSSC(const std::vector<uint8_t>& value);

    // A new protected command; the plain one is not changed. Null when no
    // keys are installed, the mode is unknown, the plain command is
    // inconsistent (Lc without data) or the protected one would not fit.
    std::unique_ptr<ApduCommand> EncodeCommand(const ApduCommand* plain, int32_t mode);
    // Checks and deciphers the response in place. CKR_OK, or
    // kSmResponseRefused with the response's data removed. A success status
    // word (90 00, 61 xx) without protected objects is refused; an error
    // status word without them is the card's answer.
    CK_RV DecodeResponse(ApduResponse* response);

    void IncrementSSC();
    void DecrementSSC();
    // The counter bytes; empty when there is no counter.
    const std::vector<uint8_t>& SSC() const { return ssc_; }

    // What SendApdu uses: mode 2 wrapping and the response check.
    ApduCommand* WrapCommand(const ApduCommand& plain) override;
    CK_RV UnwrapResponse(ApduResponse& response) override;

private:
    void IncrementCounter(int32_t index);
    void DecrementCounter(int32_t index);
    bool CounterInUse() const;

    std::vector<uint8_t> BuiltDO87(const uint8_t* data, size_t length) const;
    std::vector<uint8_t> BuiltDO85(const uint8_t* data, size_t length) const;
    std::vector<uint8_t> BuiltDO97(uint16_t le) const;
    // The checksum over [SSC] || input (padded with method 2 before the MAC).
    std::vector<uint8_t> MacCalculation(const std::vector<uint8_t>& input) const;
    bool CheckMac(const std::vector<uint8_t>& macInput, const std::vector<uint8_t>& checksum) const;

    Brelt::Crypto::OctetStringHolder kEnc_;
    Brelt::Crypto::OctetStringHolder kMac_;
    Brelt::Crypto::OctetStringHolder iv_;
    std::unique_ptr<Brelt::Crypto::TripleDES> cipher_;
    uint32_t blockSize_ = 0;
    std::vector<uint8_t> ssc_;
};

}  // namespace Brelt::MW::Card
