// Encoding an object as a directory entry for writing the file back.

#include "LogTrace.h"
#include "token/CIOObject.h"
#include "token/DerUtil.h"

namespace Brelt::MW::Token {

using Der::AppendTlv;
using Der::AppendUnsigned;
using MW::Base::HexBinary;

namespace {

void AppendIfSet(std::vector<uint8_t>& out, uint8_t tag, const Bytes& value)
{
    if (value) AppendTlv(out, tag, value.get());
}

void AppendPath(std::vector<uint8_t>& out, const Bytes& path)
{
    if (!path) return;
    std::vector<uint8_t> inner;
    AppendTlv(inner, 0x04, path.get());
    AppendTlv(out, 0x30, inner);
}

}  // namespace

CK_RV CIOObject::GetASN_CommonAttributes(std::vector<uint8_t>& out) const
{
    const CommonObjectAttributes& common = *commonAttributes;
    std::vector<uint8_t> inner;
    AppendIfSet(inner, 0x0C, common.label);
    AppendIfSet(inner, 0x03, common.flags);
    AppendIfSet(inner, 0x04, common.authId);
    if (common.userConsent) AppendUnsigned(inner, *common.userConsent);
    const CK_RV rv = GetASN_AccessRules(inner);
    if (rv != CKR_OK) {
        LOG_FAILED("CIOObject::GetASN_CommonAttributes", CKR_ARGUMENTS_BAD);
        return CKR_ARGUMENTS_BAD;
    }
    AppendTlv(out, 0x30, inner);
    return CKR_OK;
}

CK_RV CIOObject::GetASN_AccessRules(std::vector<uint8_t>& out) const
{
    const auto& rules = commonAttributes->accessControlRules;
    if (rules.empty()) return CKR_OK;
    std::vector<uint8_t> list;
    for (const AccessControlRule& rule : rules) {
        std::vector<uint8_t> ruleBytes;
        AppendIfSet(ruleBytes, 0x03, rule.accessMode);
        if (rule.condition) GetASN_SecurityCondition(*rule.condition, ruleBytes);
        AppendTlv(list, 0x30, ruleBytes);
    }
    AppendTlv(out, 0x30, list);
    return CKR_OK;
}

void CIOObject::GetASN_SecurityCondition(const SecurityCondition& condition, std::vector<uint8_t>& out) const
{
    if (condition.always != 0) AppendTlv(out, 0x05, nullptr, 0);
    AppendIfSet(out, 0x04, condition.authId);
    if (condition.authReference) {
        std::vector<uint8_t> reference;
        AppendIfSet(reference, 0x03, condition.authReference->authMethod);
        AppendIfSet(reference, 0x02, condition.authReference->seIdentifier);
        AppendTlv(out, 0x30, reference);
    }
    if (condition.notCondition) {
        std::vector<uint8_t> inner;
        GetASN_SecurityCondition(*condition.notCondition, inner);
        AppendTlv(out, 0xA0, inner);
    }
    // Written in the form the reader takes: [1] holding one SEQUENCE.
    if (condition.andCondition) {
        std::vector<uint8_t> inner;
        GetASN_SecurityCondition(*condition.andCondition, inner);
        std::vector<uint8_t> sequence;
        AppendTlv(sequence, 0x30, inner);
        AppendTlv(out, 0xA1, sequence);
    }
}

CK_RV CIOObject::GetASN_CommonKeyAttributes(std::vector<uint8_t>& out) const
{
    const auto* set = AsCommonKeyAttributes();
    if (set == nullptr) return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> inner;
    AppendIfSet(inner, 0x04, set->iD);
    AppendIfSet(inner, 0x03, set->usage);
    if (set->native == 0) {
        const uint8_t falseValue = 0x00;
        AppendTlv(inner, 0x01, &falseValue, 1);
    }
    AppendIfSet(inner, 0x03, set->accessFlags);
    if (set->keyReference) AppendUnsigned(inner, *set->keyReference);
    AppendIfSet(inner, 0x18, set->startDate);
    if (set->endDate) {
        std::vector<uint8_t> date;
        AppendTlv(date, 0x18, set->endDate.get());
        AppendTlv(inner, 0xA0, date);
    }
    if (!set->algReference.empty()) {
        std::vector<uint8_t> references;
        for (const Bytes& reference : set->algReference) AppendTlv(references, 0x02, reference.get());
        std::vector<uint8_t> sequence;
        AppendTlv(sequence, 0x30, references);
        AppendTlv(inner, 0xA1, sequence);
    }
    AppendTlv(out, 0x30, inner);
    return CKR_OK;
}

CK_RV CIOObject::GetASN_CommonCertAttributes(std::vector<uint8_t>& out) const
{
    const auto* set = AsCommonCertificateAttributes();
    if (set == nullptr) return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> inner;
    AppendIfSet(inner, 0x04, set->iD);
    if (set->authority) {
        const uint8_t value = *set->authority != 0 ? 0xFF : 0x00;
        AppendTlv(inner, 0x01, &value, 1);
    }
    AppendTlv(out, 0x30, inner);
    return CKR_OK;
}

CK_RV CIOObject::GetASN_RSAKeyAttributes(std::vector<uint8_t>& out) const
{
    const auto* set = AsRSAKeyAttributes();
    if (set == nullptr) return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> inner;
    AppendPath(inner, set->path);
    AppendUnsigned(inner, set->modulusLength);
    // keyInfo keeps the tag it had on the card (a reference INTEGER or a
    // parameters SEQUENCE), so the written entry stays well-formed.
    AppendIfSet(inner, set->keyInfoTag, set->keyInfo);
    std::vector<uint8_t> sequence;
    AppendTlv(sequence, 0x30, inner);
    AppendTlv(out, 0xA1, sequence);
    return CKR_OK;
}

CK_RV CIOObject::GetASN_ECKeyAttributes(std::vector<uint8_t>& out) const
{
    const auto* set = AsECKeyAttributes();
    if (set == nullptr) return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> inner;
    AppendPath(inner, set->path);
    AppendIfSet(inner, set->keyInfoTag, set->keyInfo);
    std::vector<uint8_t> sequence;
    AppendTlv(sequence, 0x30, inner);
    AppendTlv(out, 0xA1, sequence);
    return CKR_OK;
}

CK_RV CIOObject::GetASN_X509CertAttributes(std::vector<uint8_t>& out) const
{
    const auto* set = AsCertificateAttributes();
    if (set == nullptr) return CKR_ARGUMENTS_BAD;
    std::vector<uint8_t> inner;
    AppendPath(inner, set->path);
    AppendIfSet(inner, 0x02, set->serial);
    std::vector<uint8_t> sequence;
    AppendTlv(sequence, 0x30, inner);
    AppendTlv(out, 0xA1, sequence);
    return CKR_OK;
}

bool RSAPrvKeyObject::EncodeFields(std::vector<uint8_t>& out) const
{
    std::vector<uint8_t> body;
    if (GetASN_CommonAttributes(body) != CKR_OK) return false;
    if (classAttributes && GetASN_CommonKeyAttributes(body) != CKR_OK) return false;
    if (typeAttributes && GetASN_RSAKeyAttributes(body) != CKR_OK) return false;
    AppendTlv(out, 0x30, body);
    return true;
}

bool ECPrvKeyObject::EncodeFields(std::vector<uint8_t>& out) const
{
    std::vector<uint8_t> body;
    if (GetASN_CommonAttributes(body) != CKR_OK) return false;
    if (classAttributes && GetASN_CommonKeyAttributes(body) != CKR_OK) return false;
    if (typeAttributes && GetASN_ECKeyAttributes(body) != CKR_OK) return false;
    // EC private-key entries are [0]-tagged; some applications wrap the key
    // object once more inside the [0].
    if (wrappedEntry_) {
        std::vector<uint8_t> object;
        AppendTlv(object, 0x30, body);
        AppendTlv(out, 0xA0, object);
    } else {
        AppendTlv(out, 0xA0, body);
    }
    return true;
}

bool CertificateObject::EncodeFields(std::vector<uint8_t>& out) const
{
    std::vector<uint8_t> body;
    if (GetASN_CommonAttributes(body) != CKR_OK) return false;
    if (classAttributes && GetASN_CommonCertAttributes(body) != CKR_OK) return false;
    if (typeAttributes && GetASN_X509CertAttributes(body) != CKR_OK) return false;
    AppendTlv(out, 0x30, body);
    return true;
}

CK_RV RSAPrvKeyObject::GetASN(HexBinary& out) const
{
    FunctionTrace trace("RSAPrvKeyObject::GetASN");
    return trace.Result(WriteBack(out));
}

CK_RV ECPrvKeyObject::GetASN(HexBinary& out) const
{
    FunctionTrace trace("ECPrvKeyObject::GetASN");
    return trace.Result(WriteBack(out));
}

CK_RV CertificateObject::GetASN(HexBinary& out) const
{
    FunctionTrace trace("CertificateObject::GetASN");
    return trace.Result(WriteBack(out));
}

}  // namespace Brelt::MW::Token
