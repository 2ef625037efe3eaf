// Internal model of one card: the file tree, PIN objects, keys and the
// volatile state (current file, security environment, record pointer).
#pragma once

#include <cardsim/Card.h>

#include "SecureMessaging.h"

#include <botan/chacha_rng.h>
#include <botan/ecdh.h>
#include <botan/rsa.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cardsim::detail {

enum class FileType { Df, Transparent, Record };

// Access condition of one operation on a file.
struct Access {
    enum class Kind { Always, Pin, Never };
    Kind kind = Kind::Always;
    uint8_t pinReference = 0;

    static Access Always() { return {}; }
    static Access Never() { return {Kind::Never, 0}; }
    static Access ByPin(uint8_t reference) { return {Kind::Pin, reference}; }
};

// How PSO DECIPHER treats the deciphered block when the MSE names no algorithm.
enum class DecipherMode { Raw, Pkcs1 };

struct RsaKeyObject {
    uint8_t reference = 0;
    std::shared_ptr<const Botan::RSA_PrivateKey> key;
    bool canSign = true;
    bool canDecipher = false;
    uint8_t pinReference = 0x01;    // PIN whose security status the key needs
    DecipherMode decipherMode = DecipherMode::Pkcs1;
    int userConsent = 0;            // operations per verification, 0 = unlimited
    std::optional<uint16_t> containerFid;  // key-container EF in the same DF
    int operationsSinceVerify = 0;  // volatile
};

struct SecurityEnvironment {
    std::optional<uint8_t> signatureKey;
    std::optional<uint8_t> signatureAlgorithm;
    std::optional<uint8_t> decipherKey;
    std::optional<uint8_t> decipherAlgorithm;
};

struct File {
    uint16_t fid = 0;
    FileType type = FileType::Transparent;
    Bytes aid;                      // DF name
    Bytes data;                     // transparent EF body
    std::vector<Bytes> records;     // record EF body
    Access read;
    Access update = Access::ByPin(0x01);
    bool deactivated = false;
    File* parent = nullptr;
    std::vector<std::unique_ptr<File>> children;

    // DF only
    std::vector<RsaKeyObject> keys;
    std::optional<uint8_t> defaultSignatureKey;
    // Environments that MSE RESTORE brings back, by number.
    std::map<uint8_t, SecurityEnvironment> storedEnvironments;

    // Deliberate faults of broken personalisations.
    bool fcpWithoutFid = false;      // FCP lacks tag 83
    bool fcpEmptyOnRequest = false;  // P2 00 / 04 answered without data

    bool IsDf() const { return type == FileType::Df; }
    File* Child(uint16_t childFid) const;
    File* FindByAid(const Bytes& name);
    RsaKeyObject* FindKey(uint8_t reference);
    File& AddChild(std::unique_ptr<File> child);
    size_t RecordSize() const;
    Bytes Fcp() const;
    Bytes Path() const;  // FIDs from the MF, MF included
};

struct PinObject {
    uint8_t reference = 0x01;
    std::string text;               // the PIN as the holder types it
    Bytes value;                    // stored reference data (padded when the PIN is)
    size_t minLength = 4;
    size_t maxLength = 8;
    std::optional<uint8_t> padChar; // pad byte of the stored value, if padded
    int retryMax = 3;
    int retriesLeft = 3;
    bool usable = true;
    std::optional<uint8_t> unblockedBy;  // reference of the PUK that resets it
    File* owner = nullptr;          // nullptr: global (MF); else local to a DF
    bool verified = false;          // volatile
};

struct CardState {
    std::string name;
    CardOs os = CardOs::V50;
    Bytes atr;
    CardOptions options;

    std::unique_ptr<File> mf;
    std::vector<PinObject> pins;
    std::map<uint8_t, Bytes> dataObjects;  // GET DATA 01 <tag>
    uint8_t lifeCycle = 0x24;
    bool mute = false;                      // answers every command with 6F 00
    int generatedKeys = 0;                  // seeds on-card key generation
    std::shared_ptr<const Botan::ECDH_PrivateKey> chipAuthenticationKey;
    Bytes applicationContainerKey;          // symmetric key 95 of the application container
    Bytes sessionKeyDerivationKey;          // Triple-DES key that derives session key 17

    // Volatile state, cleared by Reset().
    File* currentDf = nullptr;
    File* currentEf = nullptr;
    size_t recordPointer = 0;               // 1-based, 0 = none
    SecurityEnvironment se;
    std::unique_ptr<Botan::ChaCha_RNG> challengeRng;
    std::optional<SmSession> secureMessaging;  // set by chip or mutual authentication
    Bytes lastChallenge;                    // of the latest GET CHALLENGE, used once

    CardState();
    ~CardState();
    void ResetVolatile();
    PinObject* FindPin(uint8_t reference);
    bool PinVerified(uint8_t reference) const;
    bool AccessGranted(const Access& access) const;
    // Makes `df` the current DF; leaving a DF clears its environment and the
    // status of PINs local to DFs that are no longer on the current path.
    void EnterDf(File* df);
    File* Resolve(const Bytes& pathFromMf) const;
};

}  // namespace cardsim::detail
