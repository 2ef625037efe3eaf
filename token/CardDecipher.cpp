#include "token/CardDecipher.h"

#include "LogTrace.h"
#include "card/Apdu.h"
#include "token/CardKeyCommands.h"
#include "token/CardSignature.h"

namespace Brelt::MW::Token {

namespace {

constexpr uint8_t kInsPso = 0x2A;
constexpr uint8_t kInsMse = 0x22;
// MSE SET algorithm 08: the card leaves the padding of the block to the host.
constexpr uint8_t kAlgorithmRawBlock = 0x08;

CK_RV Failed(FunctionTrace& trace, int line, CK_RV rv)
{
    TraceFailed(trace.Function(), line, rv);
    return trace.Result(rv);
}

// MSE SET CT data: the key reference as a minimal one- or two-byte number in
// a context-class [4] element (01 when the key has none), then the
// algorithm.
CK_RV ConfidentialityTemplate(const CIOObject& key, std::vector<uint8_t>& data)
{
    uint32_t reference = 1;
    KeyReferenceOf(key, &reference);
    if (reference > 0xFFFF) return CKR_FUNCTION_FAILED;
    data = {0x84};
    if (reference > 0xFF) {
        data.insert(data.end(), {0x02, static_cast<uint8_t>(reference >> 8)});
    } else {
        data.push_back(0x01);
    }
    data.insert(data.end(), {static_cast<uint8_t>(reference), 0x80, 0x01, kAlgorithmRawBlock});
    return CKR_OK;
}

}  // namespace

CK_RV DecipherOnCard(const DecipherKey& key, CK_MECHANISM_TYPE mechanism, const uint8_t* cryptogram, size_t length,
                     std::vector<uint8_t>& answer)
{
    FunctionTrace trace("DecipherOnCard");
    answer.clear();
    if (!key.channel) {
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "No secure channel to the card for deciphering");
        return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    if (key.key == nullptr || (mechanism != CKM_RSA_PKCS && mechanism != CKM_RSA_PKCS_OAEP))
        return Failed(trace, __LINE__, CKR_ARGUMENTS_BAD);
    // The command carries 00 in front of the cryptogram.
    if (cryptogram == nullptr || length == 0 || length > 0xFFFE)
        return Failed(trace, __LINE__, CKR_ENCRYPTED_DATA_LEN_RANGE);

    Card::SlotPtr slot;
    ApplicationInfoPtr application;
    if (CK_RV rv = LookUpKeyApplication(key.slotId, slot, application); rv != CKR_OK)
        return Failed(trace, __LINE__, rv);
    const bool qesEac = application->Profile == QesEacProfile;
    if (qesEac && mechanism == CKM_RSA_PKCS_OAEP) {
        // SendApdu protects every command of such a card already; a command
        // wrapped here as well would be protected twice. No such way is built.
        LogMessage(LOG_LEVEL_ERROR, true, nullptr, 0, true, "OAEP deciphering is not available for this card profile");
        return Failed(trace, __LINE__, CKR_FUNCTION_FAILED);
    }
    if (!qesEac) {
        if (CK_RV rv = SelectPrivKeyDF(key.slotId, key.lastStatus, *key.key); rv != CKR_OK)
            return Failed(trace, __LINE__, rv);
    }

    std::vector<uint8_t> data;
    data.reserve(length + 1);
    data.push_back(0x00);
    data.insert(data.end(), cryptogram, cryptogram + length);

    Card::ApduResponse response;
    CK_RV rv = CKR_OK;
    if (qesEac) {
        rv = EvaluateAR(key.slotId, key.lastStatus, *key.key, 3);
        if (rv == CKR_OK) rv = SendKeyCommand(*slot, key.lastStatus, kInsPso, 0x80, 0x86, data, true, true, response);
    } else {
        if (mechanism == CKM_RSA_PKCS_OAEP) {
            std::vector<uint8_t> mse;
            rv = ConfidentialityTemplate(*key.key, mse);
            if (rv == CKR_OK)
                rv = SendKeyCommand(*slot, key.lastStatus, kInsMse, 0x41, 0xB8, mse, false, false, response);
        }
        if (rv == CKR_OK) {
            rv = SendKeyCommandInChannel(*key.channel, *slot, key.lastStatus, kInsPso, 0x80, 0x86, data, true, true,
                                         response);
        }
    }
    if (rv != CKR_OK) return Failed(trace, __LINE__, rv);
    if (response.length > 0 && response.data) answer.assign(response.data.get(), response.data.get() + response.length);
    return trace.Result(CKR_OK);
}

}  // namespace Brelt::MW::Token
