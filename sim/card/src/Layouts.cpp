#include "Layouts.h"

#include "KeyStore.h"
#include "Pkcs15.h"

#include <botan/hash.h>

namespace cardsim::detail {

namespace {

const Bytes kPkcs15Aid{0xA0, 0x00, 0x00, 0x00, 0x63, 0x50, 0x4B, 0x43, 0x53, 0x2D, 0x31, 0x35};
const Bytes kChipSerial{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};

// Usage and flag bit numbers of the directory entries.
constexpr int kPrivate = 0;
constexpr int kModifiable = 1;
constexpr int kUsageEncrypt = 0, kUsageDecrypt = 1, kUsageSign = 2, kUsageUnwrap = 5,
              kUsageVerify = 6, kUsageNonRepudiation = 9;
const BitList kKeyAccessFlags{0, 2, 3, 4};  // sensitive, always sensitive, never extractable, local
constexpr int kPwdInitialized = 4, kPwdNeedsPadding = 5, kPwdUnblocking = 6;

constexpr uint8_t kUserPin = 0x01;
constexpr uint8_t kPuk = 0x02;
constexpr uint8_t kSecondPin = 0x03;
constexpr uint8_t kPadChar = 0xFF;

Bytes Fid(uint16_t fid)
{
    return {uint8_t(fid >> 8), uint8_t(fid & 0xFF)};
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

std::unique_ptr<File> NewDf(uint16_t fid, const Bytes& aid = {})
{
    auto df = std::make_unique<File>();
    df->fid = fid;
    df->type = FileType::Df;
    df->aid = aid;
    return df;
}

std::unique_ptr<File> NewEf(uint16_t fid, const Bytes& data)
{
    auto ef = std::make_unique<File>();
    ef->fid = fid;
    ef->data = data;
    return ef;
}

// Directory file: each record carries the 2-byte prefix 00 <record number>.
std::unique_ptr<File> NewDirectoryFile(uint16_t fid, const std::vector<Bytes>& entries)
{
    auto ef = std::make_unique<File>();
    ef->fid = fid;
    ef->type = FileType::Record;
    for (const Bytes& entry : entries) {
        Bytes record{0x00, uint8_t(ef->records.size() + 1)};
        record.insert(record.end(), entry.begin(), entry.end());
        ef->records.push_back(std::move(record));
    }
    return ef;
}

PinObject MakePin(uint8_t reference, const std::string& text, std::optional<uint8_t> padChar,
                  int retries)
{
    PinObject pin;
    pin.reference = reference;
    pin.text = text;
    pin.value = Text(text);
    pin.padChar = padChar;
    if (padChar && pin.value.size() < 8)
        pin.value.resize(8, *padChar);
    pin.retryMax = pin.retriesLeft = retries;
    return pin;
}

Bytes ChipSerial(const std::string& name)
{
    Bytes serial(kChipSerial);
    if (name == "DEF50")
        return serial;
    // Distinct serials per personalisation, so tokens can be told apart.
    auto hash = Botan::HashFunction::create_or_throw("SHA-256");
    const auto digest = hash->process(name);
    serial[6] = digest[0];
    serial[7] = digest[1];
    return serial;
}

struct KeySlot {
    std::string label;       // PrKDF label
    std::string subject;     // certificate common name
    std::string keyLabel;    // seed of the RSA key
    size_t bits = 2048;
    uint8_t id = 1;          // iD, certificate/public-key FID low byte
    uint8_t halfId = 1;      // iD of its certificate and public key
    size_t directoryBits = 2048;  // the size its directory entries state
    uint8_t authId = 1;
    uint8_t pinReference = kUserPin;
    uint8_t keyReference = 1;
    bool decipher = false;
    std::optional<int> userConsent;
    Bytes path;              // PrKDF path
    uint64_t serial = 0;
};

// Keys: signature key 1, authentication key 2, optional SigG key 3.
std::vector<KeySlot> KeySlots(const LayoutOptions& options)
{
    std::vector<KeySlot> slots(2);
    KeySlot& signature = slots[0];
    signature.label = options.sigG ? "SigG signature key" : "Signature key";
    signature.subject = options.signatureKeyBits == 3072 ? "Emu Signature 3072" : "Emu Signature";
    signature.keyLabel = "signature";
    signature.bits = options.signatureKeyBits;
    signature.userConsent = options.signatureKeyUserConsent;
    signature.serial = options.signatureKeyBits == 3072 ? 0x1000000000000004 : 0x1000000000000001;
    KeySlot& authentication = slots[1];
    authentication.label = "Authentication key";
    authentication.subject = "Emu Authentication";
    authentication.keyLabel = "authentication";
    authentication.id = 2;
    authentication.keyReference = 2;
    authentication.decipher = true;
    authentication.bits = options.authenticationKeyBits;
    authentication.serial = options.authenticationKeyBits == 2048 ? 0x1000000000000002 : 0x1000000000000005;
    if (options.secondSigGKey) {
        KeySlot second;
        second.label = "Second signature key";
        second.subject = "Emu Second Signature";
        second.keyLabel = "second signature";
        second.id = 3;
        second.authId = 3;
        second.pinReference = kSecondPin;
        second.keyReference = 3;
        second.serial = 0x1000000000000003;
        slots.push_back(second);
    }
    for (KeySlot& slot : slots) {
        slot.halfId = options.publicHalvesUnmatched ? uint8_t(0x80 | slot.id) : slot.id;
        slot.directoryBits = options.directoryModulusBits.value_or(slot.bits);
        slot.keyReference = uint8_t(slot.keyReference | options.keyReferenceBase);
        slot.path = options.sigG ? Bytes{0x3F, 0x00, 0xDF, slot.id} : Bytes{0x4B, slot.id};
    }
    return slots;
}

// AODF: the PUK first (token information skips it), then the user PIN.
std::vector<Bytes> PinDirectoryEntries(const LayoutOptions& options)
{
    std::vector<Bytes> entries;
    PinObjectEntry puk;
    puk.common = {"PUK", {kModifiable}, {}, std::nullopt};
    puk.authId = {kPuk};
    puk.pwdFlags = {kPwdInitialized, kPwdNeedsPadding, kPwdUnblocking};
    puk.minLength = 8;
    puk.reference = kPuk;
    puk.padChar = kPadChar;
    entries.push_back(EncodePin(puk));
    PinObjectEntry pin;
    pin.common = {"PIN", {kModifiable}, {}, std::nullopt};
    pin.authId = {kUserPin};
    pin.pwdFlags = options.unpaddedPin ? BitList{kPwdInitialized} : BitList{kPwdInitialized, kPwdNeedsPadding};
    pin.reference = kUserPin;
    pin.maxLength = options.userPinMaxLength;
    if (!options.unpaddedPin)
        pin.padChar = kPadChar;
    entries.push_back(EncodePin(pin));
    if (options.secondSigGKey) {
        PinObjectEntry second = pin;
        second.common.label = "Signature PIN";
        second.authId = {kSecondPin};
        second.pwdFlags = {kPwdInitialized, kPwdNeedsPadding};
        second.reference = kSecondPin;
        second.padChar = kPadChar;
        entries.push_back(EncodePin(second));
    }
    return entries;
}

std::string BaseLabel(const KeySlot& slot)
{
    return slot.label.substr(0, slot.label.size() - 4);  // without " key"
}

Bytes PrivateKeyDirectoryEntry(const KeySlot& slot)
{
    PrivateKeyEntry entry;
    entry.common = {slot.label, {kPrivate, kModifiable}, {slot.authId}, slot.userConsent};
    entry.id = {slot.id};
    entry.usage = slot.decipher ? BitList{kUsageDecrypt, kUsageSign, kUsageUnwrap}
                                : BitList{kUsageSign, kUsageNonRepudiation};
    entry.accessFlags = kKeyAccessFlags;
    entry.keyReference = slot.keyReference;
    entry.path = slot.path;
    entry.modulusBits = slot.directoryBits;
    return EncodePrivateKey(entry);
}

Bytes PublicKeyDirectoryEntry(const KeySlot& slot)
{
    PublicKeyEntry entry;
    entry.common = {BaseLabel(slot) + " public key", {kModifiable}, {}, std::nullopt};
    entry.id = {slot.halfId};
    entry.usage = slot.decipher ? BitList{kUsageEncrypt, kUsageVerify} : BitList{kUsageVerify, kUsageNonRepudiation};
    entry.path = {0x45, slot.id};
    entry.modulusBits = slot.directoryBits;
    return EncodePublicKey(entry);
}

Bytes CertificateDirectoryEntry(const KeySlot& slot)
{
    CertificateEntry entry;
    entry.common = {BaseLabel(slot) + " certificate", {kModifiable}, {}, std::nullopt};
    entry.id = {slot.halfId};
    entry.path = {0x43, slot.id};
    return EncodeCertificate(entry);
}

}  // namespace

Bytes MakeAtr(const Bytes& historicalBytes)
{
    // TS 3B; T0 with TA1, TC1, TD1 and the number of historical bytes;
    // TA1 18, TC1 00, TD1 81 (T=1, TD2 follows), TD2 31 (TA3, TB3, T=1),
    // TA3 FE (IFSC 254), TB3 58 (BWI 5, CWI 8); TCK over T0..end.
    Bytes atr{0x3B, uint8_t(0xD0 | historicalBytes.size()), 0x18, 0x00, 0x81, 0x31, 0xFE, 0x58};
    for (uint8_t b : historicalBytes)
        atr.push_back(b);
    uint8_t tck = 0;
    for (size_t i = 1; i < atr.size(); ++i)
        tck ^= atr[i];
    atr.push_back(tck);
    return atr;
}

std::unique_ptr<CardState> NewCard(const std::string& name, CardOs os)
{
    auto state = std::make_unique<CardState>();
    state->name = name;
    state->os = os;
    state->mf = NewDf(0x3F00);
    auto& objects = state->dataObjects;
    const Bytes serial = ChipSerial(name);
    switch (os) {
    case CardOs::V43B:
        objects[0x82] = {0xC8, 0x08};
        objects[0x80] = Text("CardOS V4.3B (C) Emulator");
        objects[0x89] = {0x00, 0x00, 0x00, 0x20, 0x04, 0x03};
        break;
    case CardOs::V44:
        objects[0x82] = {0xC8, 0x0D};
        objects[0x80] = Text("CardOS V4.4 (C) Emulator");
        objects[0x89] = {0x00, 0x00, 0x00, 0x40, 0x04, 0x04};
        break;
    case CardOs::V50:
    case CardOs::Unknown:
        objects[0x82] = {0xC9, 0x01};
        objects[0x89] = {0x00, 0x00, 0x00, 0x80, 0x05, 0x00};
        break;
    }
    if (os == CardOs::V43B || os == CardOs::V44) {
        // Chip data: 8 bytes of production data, then the serial.
        Bytes chip{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
        chip.insert(chip.end(), serial.begin(), serial.end());
        objects[0x81] = chip;
    } else {
        objects[0x81] = serial;
    }
    objects[0x8A] = {0x7D, 0x00};
    // Size of the card's APDU buffer (command and answer, status word
    // included): 640 bytes, enough for an extended PSO on a 3072-bit key.
    objects[0x8D] = {0x02, 0x80};
    objects[0x8E] = {0x00};
    if (os == CardOs::Unknown)
        objects[0x82] = {0x01, 0x02, 0x03};
    state->atr = MakeAtr(os == CardOs::Unknown ? Bytes{0x01, 0x02}
                                               : Bytes(objects[0x82].begin(), objects[0x82].end()));
    return state;
}

void AddPkcs15Layout(CardState& state, const LayoutOptions& options)
{
    File& mf = *state.mf;
    const bool v4 = state.os == CardOs::V43B || state.os == CardOs::V44;

    // PINs: user PIN 01 (global) and its PUK 02; optionally a second PIN 03.
    PinObject userPin = options.unpaddedPin ? MakePin(kUserPin, "123456", std::nullopt, 3)
                                            : MakePin(kUserPin, "1234", kPadChar, 3);
    userPin.unblockedBy = kPuk;
    state.pins.push_back(userPin);
    state.pins.push_back(MakePin(kPuk, "12345678", kPadChar, 10));
    if (options.secondSigGKey)
        state.pins.push_back(MakePin(kSecondPin, "654321", kPadChar, 3));

    if (options.efDir) {
        const Bytes entry = EncodeEfDirEntry(kPkcs15Aid, "PKCS#15 emulated", {0x3F, 0x00, 0x50, 0x15});
        if (options.efDirAsRecords) {
            auto dir = std::make_unique<File>();
            dir->fid = 0x2F00;
            dir->type = FileType::Record;
            dir->records.push_back(entry);
            mf.AddChild(std::move(dir));
        } else {
            mf.AddChild(NewEf(0x2F00, entry));
        }
    }

    std::vector<Bytes> privateKeys, publicKeys, certificates;
    auto app = NewDf(0x5015, kPkcs15Aid);
    app->fcpWithoutFid = options.applicationFcpWithoutFid;
    app->fcpEmptyOnRequest = options.applicationFcpEmpty;
    for (const KeySlot& slot : KeySlots(options)) {
        const auto key = DeterministicKey(slot.keyLabel, slot.bits);
        privateKeys.push_back(PrivateKeyDirectoryEntry(slot));
        publicKeys.push_back(PublicKeyDirectoryEntry(slot));
        certificates.push_back(CertificateDirectoryEntry(slot));
        Bytes certificate = IssueCertificate(*key, slot.subject, slot.serial,
                                             slot.decipher ? CertificateUse::Authentication
                                                           : CertificateUse::Signature);
        if (options.certificateFill)
            certificate.resize(certificate.size() + 300, *options.certificateFill);
        app->AddChild(NewEf(uint16_t(0x4300 | slot.id), certificate));
        app->AddChild(NewEf(uint16_t(0x4500 | slot.id), PublicKeyTemplate(*key)));

        RsaKeyObject object;
        object.reference = slot.keyReference;
        object.key = key;
        object.canDecipher = slot.decipher;
        object.pinReference = slot.pinReference;
        object.decipherMode = v4 ? DecipherMode::Raw : DecipherMode::Pkcs1;
        object.userConsent = slot.userConsent.value_or(0);
        if (options.sigG) {
            // Each SigG key lives in its own DF as the default signature key.
            auto df = NewDf(uint16_t(0xDF00 | slot.id));
            df->defaultSignatureKey = object.reference;
            df->keys.push_back(object);
            mf.AddChild(std::move(df));
        } else {
            object.containerFid = uint16_t(0x4B00 | slot.id);
            auto container = NewEf(*object.containerFid, {});
            container->read = Access::Never();
            app->AddChild(std::move(container));
            app->keys.push_back(object);
        }
    }
    if (options.sigG) {
        auto marker = NewEf(0x2F02, {0x00});
        marker->read = Access::Never();
        mf.AddChild(std::move(marker));
    }

    DataObjectEntry data;
    data.common = {"Card data", {kModifiable}, {}, std::nullopt};
    data.applicationName = "Emulator";
    data.path = {0x46, 0x01};
    app->AddChild(NewEf(0x4601, Text("Simulated card data")));

    if (!options.ciaInfoMissing) {
        Bytes cia = EncodeCiaInfo(options.label, options.mechanism);
        if (options.ciaInfoTwoElements)
            cia.insert(cia.end(), {0x30, 0x03, 0x02, 0x01, 0x00});
        app->AddChild(NewEf(0x5032, cia));
    }
    std::vector<OdfEntry> odf{{8, Fid(0x4401)}, {0, Fid(0x4402)}, {1, Fid(0x4403)},
                              {4, Fid(0x4404)}, {7, Fid(0x4405)}};
    if (options.odfDanglingEntry)
        odf.push_back({4, Fid(0x4409)});
    app->AddChild(NewEf(0x5031, EncodeOdf(odf)));
    app->AddChild(NewDirectoryFile(0x4401, PinDirectoryEntries(options)));
    app->AddChild(NewDirectoryFile(0x4402, privateKeys));
    app->AddChild(NewDirectoryFile(0x4403, publicKeys));
    app->AddChild(NewDirectoryFile(0x4404, certificates));
    app->AddChild(NewDirectoryFile(0x4405, {EncodeDataObject(data)}));
    if (options.certificateDf)
        app->AddChild(NewDf(0xDFF0));
    for (const auto& child : app->children)
        if (child->fid >= 0x4401 && child->fid <= 0x4405)
            child->update = Access::ByPin(kUserPin);
    mf.AddChild(std::move(app));
}

void AddEidApplicationKeys(CardState& state, File& application)
{
    constexpr uint8_t kSigningPin = 0x03;
    if (state.FindPin(kSigningPin) == nullptr)
        state.pins.push_back(MakePin(kSigningPin, "123456", std::nullopt, 3));
    struct EidKey {
        uint8_t reference;
        const char* seed;
        const char* subject;
        bool decipher;
        uint64_t serial;
    };
    const EidKey keys[] = {{0x01, "signature", "Emu eID Signature", false, 0x2000000000000001},
                           {0x02, "authentication", "Emu eID Deciphering", true, 0x2000000000000002}};
    for (const EidKey& eid : keys) {
        RsaKeyObject object;
        object.reference = eid.reference;
        object.key = DeterministicKey(eid.seed, 2048);
        object.canSign = !eid.decipher;
        object.canDecipher = eid.decipher;
        object.pinReference = kSigningPin;
        object.decipherMode = DecipherMode::Pkcs1;
        object.containerFid = uint16_t(0x4B00 | eid.reference);
        auto container = NewEf(*object.containerFid, {});
        container->read = Access::Never();
        application.AddChild(std::move(container));
        application.AddChild(NewEf(uint16_t(0x4300 | eid.reference),
                                   IssueCertificate(*object.key, eid.subject, eid.serial,
                                                    eid.decipher ? CertificateUse::Authentication
                                                                 : CertificateUse::Signature)));
        application.keys.push_back(object);
    }
}

}  // namespace cardsim::detail
