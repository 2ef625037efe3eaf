// Secure messaging codec: wrapping of commands, checking and deciphering of
// responses, and the send sequence counter.

#include "card/SecureMessaging.h"

#include <botan/mem_ops.h>

#include <cstring>
#include <exception>
#include <map>
#include <optional>

#include "BaseTypes.h"
#include "Iso9797Padding.h"
#include "LogTrace.h"
#include "RetailMac.h"

namespace Brelt::MW::Card {

using Brelt::MW::Base::HexBinary;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kMacLength = 8;
constexpr uint8_t kTagPlain = 0x81;
constexpr uint8_t kTagCryptogram = 0x85;
constexpr uint8_t kTagPaddedCryptogram = 0x87;
constexpr uint8_t kTagLe = 0x97;
constexpr uint8_t kTagStatus = 0x99;
constexpr uint8_t kTagChecksum = 0x8E;
constexpr uint8_t kTagPlainData = 0x80;
constexpr uint8_t kPaddingIndicator = 0x01;

// "Leaving %s, result = [%08Xh]" with the address of the returned object.
void TraceLeavingObject(const char* function, const void* object)
{
    if (IsLogLevelEnabled(LOG_LEVEL_TRACE))
        LogMessage(LOG_LEVEL_TRACE, true, nullptr, 0, true, "Leaving %s, result = [%08Xh]", function,
                   static_cast<unsigned>(reinterpret_cast<uintptr_t>(object)));
}

// A tag and its DER definite length, then the value.
void AppendTlv(Bytes& out, uint8_t tag, const uint8_t* value, size_t length)
{
    out.push_back(tag);
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
    } else if (length <= 0xFF) {
        out.push_back(0x81);
        out.push_back(static_cast<uint8_t>(length));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<uint8_t>(length >> 8));
        out.push_back(static_cast<uint8_t>(length));
    }
    out.insert(out.end(), value, value + length);
}

void AppendTlv(Bytes& out, uint8_t tag, const Bytes& value) { AppendTlv(out, tag, value.data(), value.size()); }

HexBinary ToHexBinary(const uint8_t* data, size_t length)
{
    return HexBinary(data, static_cast<int32_t>(length), true);
}

// The top-level objects of a protected answer, first occurrence of a tag
// kept. Empty optional for malformed data: a length running past the end,
// a long form above two bytes, a multi-byte tag.
std::optional<std::map<uint8_t, Bytes>> ParseResponse(const uint8_t* data, size_t length)
{
    TraceEntering("SecureMessaging::ParseResponse");
    std::map<uint8_t, Bytes> objects;
    size_t pos = 0;
    bool ok = length > 0;
    while (ok && pos < length) {
        const uint8_t tag = data[pos++];
        if ((tag & 0x1F) == 0x1F || pos >= length) {
            ok = false;
            break;
        }
        size_t valueLength = data[pos++];
        if (valueLength == 0x81 || valueLength == 0x82) {
            const size_t count = valueLength & 0x7F;
            if (length - pos < count) {
                ok = false;
                break;
            }
            valueLength = 0;
            for (size_t i = 0; i < count; ++i) valueLength = (valueLength << 8) | data[pos++];
        } else if (valueLength >= 0x80) {
            ok = false;
            break;
        }
        if (length - pos < valueLength) {
            ok = false;
            break;
        }
        objects.emplace(tag, Bytes(data + pos, data + pos + valueLength));
        pos += valueLength;
    }
    TraceLeavingObject("SecureMessaging::ParseResponse", ok ? static_cast<const void*>(&objects) : nullptr);
    if (!ok) return std::nullopt;
    return objects;
}

// 90 00, or 61 xx (more data to fetch).
bool IsSuccessStatus(uint16_t sw)
{
    return sw == kSwSuccess || (sw & 0xFF00) == 0x6100;
}

// Refuses the response: its data go, the status word stays.
CK_RV RefuseResponse(ApduResponse* response)
{
    response->data.reset();
    response->length = 0;
    return kSmResponseRefused;
}

}  // namespace

SecureMessaging::SecureMessaging() : Authentication(kAppContainerType)
{
    TraceEntering("SecureMessaging::SecureMessaging");
    TraceLeaving("SecureMessaging::SecureMessaging");
}

SecureMessaging::~SecureMessaging()
{
    TraceEntering("SecureMessaging::~SecureMessaging");
    Brelt::Crypto::ReleaseKeyHolder(kEnc_);
    Brelt::Crypto::ReleaseKeyHolder(kMac_);
    Brelt::Crypto::ReleaseOctetStringHolder(iv_);
    cipher_.reset();
    Botan::secure_scrub_memory(ssc_.data(), ssc_.size());
    TraceLeaving("SecureMessaging::~SecureMessaging");
}

CK_RV SecureMessaging::SetSessionKey(std::unique_ptr<uint8_t[]> key, uint16_t keyLength)
{
    FunctionTrace trace("SecureMessaging::SetSessionKey");
    if (!key || keyLength == 0) {
        LOG_FAILED("SecureMessaging::SetSessionKey", CKR_ARGUMENTS_BAD);
        return trace.Result(CKR_ARGUMENTS_BAD);
    }
    const HexBinary keyBytes(key.get(), keyLength, true);
    Botan::secure_scrub_memory(key.get(), keyLength);
    const Brelt::Crypto::SessionKeyPair pair(&keyBytes, &keyBytes);
    const CK_RV rv = SetSessionKey(&pair, 0);
    return trace.Result(rv);
}

CK_RV SecureMessaging::SetSessionKey(const Brelt::Crypto::SessionKeyPair* pair, uint32_t counterFlag)
{
    FunctionTrace trace("SecureMessaging::SetSessionKey");
    // Triple-DES takes two- or three-key keys, the retail MAC one or two DES keys.
    const auto encLength = pair != nullptr && pair->first ? pair->first->length : 0;
    const auto macLength = pair != nullptr && pair->second ? pair->second->length : 0;
    if ((encLength != 16 && encLength != 24) || (macLength != 8 && macLength != 16)) {
        LOG_FAILED("SecureMessaging::SetSessionKey", CKR_ARGUMENTS_BAD);
        return trace.Result(CKR_ARGUMENTS_BAD);
    }
    try {
        auto kEnc = pair->FirstAsKey();
        auto kMac = pair->SecondAsKey();
        auto iv = Brelt::Crypto::MakeOctetStringFromHex("0000000000000000");
        auto cipher = std::make_unique<Brelt::Crypto::TripleDES>(kEnc, iv);
        kEnc_ = std::move(kEnc);
        kMac_ = std::move(kMac);
        iv_ = std::move(iv);
        cipher_ = std::move(cipher);
    } catch (...) {
        LOG_FAILED("SecureMessaging::SetSessionKey", CKR_ARGUMENTS_BAD);
        return trace.Result(CKR_ARGUMENTS_BAD);
    }
    blockSize_ = 8;
    ssc_.clear();
    if (counterFlag != 0) ssc_.assign(blockSize_, 0x00);
    return trace.Result(CKR_OK);
}

bool SecureMessaging::SetSSC(const std::vector<uint8_t>& value)
{
    if (ssc_.empty() || value.size() != ssc_.size()) return false;
    ssc_ = value;
    return true;
}

bool SecureMessaging::CounterInUse() const
{
    return GetType() == kChipAuthenticationType && !ssc_.empty();
}

void SecureMessaging::IncrementCounter(int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= ssc_.size()) return;
    if (ssc_[index] < 0xFF) {
        ++ssc_[index];
        return;
    }
    ssc_[index] = 0x00;
    if (index > 0) IncrementCounter(index - 1);
}

void SecureMessaging::DecrementCounter(int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= ssc_.size()) return;
    if (ssc_[index] != 0x00) {
        --ssc_[index];
        return;
    }
    ssc_[index] = 0xFF;
    if (index > 0) DecrementCounter(index - 1);
}

void SecureMessaging::IncrementSSC()
{
    TraceEntering("SecureMessaging::IncrementSSC");
    IncrementCounter(static_cast<int32_t>(ssc_.size()) - 1);
    TraceLeaving("SecureMessaging::IncrementSSC");
}

void SecureMessaging::DecrementSSC()
{
    TraceEntering("SecureMessaging::DecrementSSC");
    DecrementCounter(static_cast<int32_t>(ssc_.size()) - 1);
    TraceLeaving("SecureMessaging::DecrementSSC");
}

std::vector<uint8_t> SecureMessaging::BuiltDO87(const uint8_t* data, size_t length) const
{
    TraceEntering("SecureMessaging::BuiltDO87");
    const HexBinary plain = ToHexBinary(data, length);
    const auto cryptogram = cipher_->Encrypt(&plain);
    Bytes value{kPaddingIndicator};
    value.insert(value.end(), cryptogram->data, cryptogram->data + cryptogram->length);
    Bytes object;
    AppendTlv(object, kTagPaddedCryptogram, value);
    TraceLeavingObject("SecureMessaging::BuiltDO87", object.data());
    return object;
}

std::vector<uint8_t> SecureMessaging::BuiltDO85(const uint8_t* data, size_t length) const
{
    TraceEntering("SecureMessaging::BuiltDO85");
    const HexBinary plain = ToHexBinary(data, length);
    const auto cryptogram = cipher_->Encrypt(&plain);
    Bytes object;
    AppendTlv(object, kTagCryptogram, cryptogram->data, static_cast<size_t>(cryptogram->length));
    TraceLeavingObject("SecureMessaging::BuiltDO85", object.data());
    return object;
}

std::vector<uint8_t> SecureMessaging::BuiltDO97(uint16_t le) const
{
    TraceEntering("SecureMessaging::BuiltDO97");
    Bytes value;
    if (le > 0xFF) value.push_back(static_cast<uint8_t>(le >> 8));
    value.push_back(static_cast<uint8_t>(le));
    Bytes object;
    AppendTlv(object, kTagLe, value);
    TraceLeavingObject("SecureMessaging::BuiltDO97", object.data());
    return object;
}

std::vector<uint8_t> SecureMessaging::MacCalculation(const std::vector<uint8_t>& input) const
{
    TraceEntering("SecureMessaging::MacCalculation");
    Bytes full;
    if (CounterInUse()) full = ssc_;
    full.insert(full.end(), input.begin(), input.end());
    const HexBinary bytes = ToHexBinary(full.data(), full.size());
    const Brelt::Crypto::RetailMac mac(kMac_);
    const auto checksum = mac.ComputePadded(&bytes);
    Bytes result(checksum->data, checksum->data + checksum->length);
    TraceLeavingObject("SecureMessaging::MacCalculation", result.data());
    return result;
}

bool SecureMessaging::CheckMac(const std::vector<uint8_t>& macInput, const std::vector<uint8_t>& checksum) const
{
    FunctionTrace trace("SecureMessaging::CheckMac");
    bool passed = cipher_ && cipher_->GetName() == "TripleDES" && checksum.size() == kMacLength;
    if (passed) {
        const Bytes expected = MacCalculation(macInput);
        passed = expected.size() == kMacLength && Botan::constant_time_compare(expected.data(), checksum.data(), kMacLength);
    }
    trace.Result(passed ? CKR_OK : kSmResponseRefused);
    return passed;
}

std::unique_ptr<ApduCommand> SecureMessaging::EncodeCommand(const ApduCommand* plain, int32_t mode)
{
    static constexpr const char* kName = "SecureMessaging::EncodeCommand";
    TraceEntering(kName);
    auto fail = [](const char* why) -> std::unique_ptr<ApduCommand> {
        LogMessage(LOG_LEVEL_ERROR, true, kName, __LINE__, true, "%s", why);
        TraceLeavingObject(kName, nullptr);
        return nullptr;
    };
    if (plain == nullptr || (plain->lc > 0 && !plain->data)) return fail("Invalid plain command");
    if (mode != kSmHeaderOnly && mode != kSmWholeCommand)
        return fail("Secure messaging mode is not supported...");
    if (!cipher_ || !kMac_) return fail("No secure messaging keys");

    if (CounterInUse()) IncrementCounter(static_cast<int32_t>(ssc_.size()) - 1);

    auto wrapped = std::make_unique<ApduCommand>();
    wrapped->cla = static_cast<uint8_t>(plain->cla | 0x0C);
    wrapped->ins = plain->ins;
    wrapped->p1 = plain->p1;
    wrapped->p2 = plain->p2;

    // The authenticated header always enters the checksum padded to a block
    // (ISO/IEC 7816-4), also when no data object follows it.
    const uint8_t header[4] = {wrapped->cla, wrapped->ins, wrapped->p1, wrapped->p2};
    Bytes macInput = Brelt::Crypto::PadMethod2(header, sizeof header);

    Bytes field;
    try {
        if (mode == kSmWholeCommand) {
            Bytes objects;
            if (plain->lc > 0) {
                objects = (plain->ins & 0x01) == 0 ? BuiltDO87(plain->data.get(), plain->lc)
                                                   : BuiltDO85(plain->data.get(), plain->lc);
            }
            if (plain->le != kNoLe) {
                const Bytes do97 = BuiltDO97(plain->le);
                objects.insert(objects.end(), do97.begin(), do97.end());
            }
            macInput.insert(macInput.end(), objects.begin(), objects.end());
            field = std::move(objects);
            AppendTlv(field, kTagChecksum, MacCalculation(macInput));
        } else {
            AppendTlv(field, kTagChecksum, MacCalculation(macInput));
            AppendTlv(field, kTagPlainData, plain->data.get(), plain->lc);
        }
    } catch (const std::exception& e) {
        return fail(e.what());
    } catch (...) {
        return fail("Protected command cannot be built");
    }
    if (field.size() > 0xFFFF) return fail("Protected command too long");

    wrapped->lc = static_cast<uint16_t>(field.size());
    wrapped->data = std::make_unique<uint8_t[]>(field.size());
    std::memcpy(wrapped->data.get(), field.data(), field.size());
    Botan::secure_scrub_memory(field.data(), field.size());
    wrapped->le = 0;
    wrapped->expectedSw = plain->expectedSw;
    wrapped->skip = plain->skip;
    TraceLeavingObject(kName, wrapped.get());
    return wrapped;
}

CK_RV SecureMessaging::DecodeResponse(ApduResponse* response)
{
    static constexpr const char* kName = "SecureMessaging::DecodeResponse";
    FunctionTrace trace(kName);
    if (response == nullptr) {
        LOG_FAILED(kName, CKR_ARGUMENTS_BAD);
        return trace.Result(CKR_ARGUMENTS_BAD);
    }
    if (CounterInUse()) IncrementCounter(static_cast<int32_t>(ssc_.size()) - 1);
    if (response->length == 0) {
        // A card refuses a protected command in the clear; a success in the
        // clear is not the card's protected answer (a forged or lost one).
        if (!IsSuccessStatus(response->sw)) return trace.Result(CKR_OK);
        LOG_FAILED(kName, kSmResponseRefused);
        return trace.Result(RefuseResponse(response));
    }
    if (!response->data) return trace.Result(RefuseResponse(response));

    const auto objects = ParseResponse(response->data.get(), response->length);
    if (!objects || objects->empty()) {
        LOG_FAILED(kName, kSmResponseRefused);
        return trace.Result(RefuseResponse(response));
    }
    auto find = [&objects](uint8_t tag) -> const Bytes* {
        const auto it = objects->find(tag);
        return it == objects->end() ? nullptr : &it->second;
    };
    const Bytes* plainValue = find(kTagPlain);
    const Bytes* padded = find(kTagPaddedCryptogram);
    const Bytes* cryptogram = find(kTagCryptogram);
    const Bytes* status = find(kTagStatus);
    const Bytes* checksum = find(kTagChecksum);

    // Only one data object can be covered by the checksum; a second one
    // would reach the caller unauthenticated.
    const int dataObjects = (plainValue ? 1 : 0) + (padded ? 1 : 0) + (cryptogram ? 1 : 0);
    bool passed = checksum != nullptr && dataObjects <= 1;
    // The protected status word must be the one the card sent in the clear.
    if (passed && status != nullptr)
        passed = status->size() == 2 && ((status->at(0) << 8) | status->at(1)) == response->sw;

    if (passed) {
        Bytes macInput;
        if (plainValue) AppendTlv(macInput, kTagPlain, *plainValue);
        else if (padded) AppendTlv(macInput, kTagPaddedCryptogram, *padded);
        else if (cryptogram) AppendTlv(macInput, kTagCryptogram, *cryptogram);
        if (status) AppendTlv(macInput, kTagStatus, *status);
        try {
            passed = CheckMac(macInput, *checksum);
        } catch (...) {
            passed = false;
        }
    }
    if (!passed) {
        LOG_FAILED(kName, kSmResponseRefused);
        return trace.Result(RefuseResponse(response));
    }

    Bytes output;
    try {
        const Bytes* enciphered = padded ? padded : cryptogram;
        if (plainValue) {
            output = *plainValue;
        } else if (enciphered) {
            const size_t skip = padded ? 1 : 0;
            if (enciphered->size() <= skip) throw std::runtime_error("Empty cryptogram");
            const HexBinary bytes = ToHexBinary(enciphered->data() + skip, enciphered->size() - skip);
            const auto deciphered = cipher_->Decrypt(&bytes);
            output.assign(deciphered->data, deciphered->data + deciphered->length);
        }
    } catch (...) {
        // A cryptogram that does not decipher (bad length or padding).
        LOG_FAILED(kName, kSmResponseRefused);
        return trace.Result(RefuseResponse(response));
    }
    response->data.reset();
    response->length = static_cast<uint16_t>(output.size());
    if (!output.empty()) {
        response->data = std::make_unique<uint8_t[]>(output.size());
        std::memcpy(response->data.get(), output.data(), output.size());
        Botan::secure_scrub_memory(output.data(), output.size());
    }
    return trace.Result(CKR_OK);
}

ApduCommand* SecureMessaging::WrapCommand(const ApduCommand& plain)
{
    return EncodeCommand(&plain, kSmWholeCommand).release();
}

CK_RV SecureMessaging::UnwrapResponse(ApduResponse& response) { return DecodeResponse(&response); }

}  // namespace Brelt::MW::Card
