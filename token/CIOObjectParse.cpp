// Reading a directory entry into the fields of its object.

#include "LogTrace.h"
#include "token/CIOObject.h"
#include "token/DerUtil.h"

namespace Brelt::MW::Token {

using Crypto::ASN::ASN1Object;
using Der::ChildAt;
using Der::ChildCount;
using Der::ContentOf;
using Der::TagByte;
using Der::UnsignedOf;
using MW::Base::HexBinary;

namespace {

// Child at `index` when its identifier octet is `tag`.
const ASN1Object* ChildWithTag(const ASN1Object& node, size_t index, uint8_t tag)
{
    const ASN1Object* child = ChildAt(node, index);
    return child != nullptr && TagByte(*child) == tag ? child : nullptr;
}

// Content of the first 04 inside the first 30 child (a Path).
Bytes PathOf(const ASN1Object& element)
{
    const ASN1Object* path = element.FindChild(0x30);
    if (path == nullptr) return nullptr;
    const ASN1Object* octets = path->FindChild(0x04);
    return octets != nullptr ? ContentOf(*octets) : nullptr;
}

CK_RV WrongSet(const char* reader)
{
    LOG_FAILED(reader, CKR_ARGUMENTS_BAD);
    return CKR_ARGUMENTS_BAD;
}

}  // namespace

void CIOObject::ParseEntry(const HexBinary& entry)
{
    if (entry.data[0] == 0x10) return;
    ASN1Object root;
    root.Parse(&entry);

    const size_t count = ChildCount(root);
    if (const ASN1Object* common = ChildWithTag(root, 0, 0x30)) ParseCommonAttributes(*common);
    if (const ASN1Object* classSet = ChildWithTag(root, 1, 0x30)) ParseClassAttributes(*classSet);
    if (count == 0) return;
    const ASN1Object* last = ChildAt(root, count - 1);
    if (TagByte(*last) != 0xA1) return;
    if (const ASN1Object* typeSet = last->FindChild(0x30)) ParseTypeAttributes(*typeSet);
}

CK_RV CIOObject::ParseCommonAttributes(const ASN1Object& element)
{
    CommonObjectAttributes& common = *commonAttributes;
    if (const ASN1Object* e = element.FindChild(0x0C)) common.label = ContentOf(*e);
    if (const ASN1Object* e = element.FindChild(0x03)) common.flags = ContentOf(*e);
    if (const ASN1Object* e = element.FindChild(0x04)) common.authId = ContentOf(*e);
    if (const ASN1Object* e = element.FindChild(0x02)) common.userConsent = std::make_unique<uint32_t>(UnsignedOf(*e));
    if (const ASN1Object* e = element.FindChild(0x30)) return ParseAccessRules(*e);
    return CKR_OK;
}

CK_RV CIOObject::ParseAccessRules(const ASN1Object& element)
{
    for (const ASN1Object* ruleElement : element.GetChildren()) {
        AccessControlRule rule;
        if (const ASN1Object* e = ruleElement->FindChild(0x03)) rule.accessMode = ContentOf(*e);
        rule.condition = std::make_unique<SecurityCondition>();
        ParseSecurityCondition(*ruleElement, *rule.condition);
        commonAttributes->accessControlRules.push_back(std::move(rule));
    }
    return CKR_OK;
}

CK_RV CIOObject::ParseSecurityCondition(const ASN1Object& element, SecurityCondition& condition)
{
    if (element.FindChild(0x05) != nullptr) condition.always = 1;
    if (const ASN1Object* e = element.FindChild(0x04)) condition.authId = ContentOf(*e);
    if (const ASN1Object* e = element.FindChild(0x30)) {
        condition.authReference = std::make_unique<AuthReference>();
        if (const ASN1Object* m = e->FindChild(0x03)) condition.authReference->authMethod = ContentOf(*m);
        if (const ASN1Object* s = e->FindChild(0x02)) condition.authReference->seIdentifier = ContentOf(*s);
    }
    // Nesting is bounded by the depth limit of the ASN.1 parser.
    if (const ASN1Object* e = element.FindChild(0xA0)) {
        condition.notCondition = std::make_unique<SecurityCondition>();
        ParseSecurityCondition(*e, *condition.notCondition);
    }
    if (const ASN1Object* e = element.FindChild(0xA1)) {
        const ASN1Object* inner = ChildWithTag(*e, 0, 0x30);
        if (inner != nullptr) {
            condition.andCondition = std::make_unique<SecurityCondition>();
            ParseSecurityCondition(*inner, *condition.andCondition);
        }
    }
    return CKR_OK;
}

CK_RV CIOObject::ParseClassAttributes(const ASN1Object& element)
{
    switch (type) {
    case kTypePin:
    case kTypeCvc: return ParseCommonAuthObjectAttributes(element);
    case kTypeRsaPrivateKey:
    case kTypeEcPrivateKey:
    case kTypeRsaPublicKey:
    case kTypeEcPublicKey: return ParseCommonKeyAttributes(element);
    case kTypeCertificate:
    case kTypeCertificate2: return ParseCommonCertificateAttributes(element);
    case kTypeDataObject:
    case kTypeDataObject2: return ParseCommonDCObjectAttributes(element);
    default: return CKR_OK;
    }
}

CK_RV CIOObject::ParseCommonAuthObjectAttributes(const ASN1Object& element)
{
    auto* set = GetCommonAuthObjectAttributes();
    if (set == nullptr) return WrongSet("CIOObject::ParseCommonAuthObjectAttributes");
    if (const ASN1Object* e = element.FindChild(0x04)) set->authId = ContentOf(*e);
    if (const ASN1Object* e = element.FindChild(0x02)) set->authReference = UnsignedOf(*e);
    if (const ASN1Object* e = element.FindChild(0x80)) set->seIdentifier = UnsignedOf(*e);
    return CKR_OK;
}

CK_RV CIOObject::ParseCommonKeyAttributes(const ASN1Object& element)
{
    auto* set = AsCommonKeyAttributes();
    if (set == nullptr) return WrongSet("CIOObject::ParseCommonKeyAttributes");
    const size_t n = ChildCount(element);
    size_t p = 0;
    if (const ASN1Object* e = ChildWithTag(element, 0, 0x04)) {
        set->iD = ContentOf(*e);
        ++p;
    }
    if (const ASN1Object* e = ChildWithTag(element, 1, 0x03)) {
        set->usage = ContentOf(*e);
        ++p;
    }
    if (const ASN1Object* e = ChildWithTag(element, 2, 0x01)) {
        const auto& contents = e->Contents();
        set->native = (!contents.empty() && contents[0] != 0) ? 1 : 0;
        ++p;
    }
    if (p < n) {
        if (const ASN1Object* e = ChildWithTag(element, p, 0x03)) {
            set->accessFlags = ContentOf(*e);
            ++p;
        }
    }
    if (p < n) {
        if (const ASN1Object* e = ChildWithTag(element, p, 0x02)) {
            set->keyReference = std::make_unique<uint32_t>(UnsignedOf(*e));
            ++p;
        }
    }
    if (p < n) {
        if (const ASN1Object* e = ChildWithTag(element, p, 0x18)) {
            set->startDate = ContentOf(*e);
            ++p;
        }
    }
    if (p < n) {
        if (const ASN1Object* e = ChildWithTag(element, p, 0xA0)) {
            if (const ASN1Object* date = e->FindChild(0x18)) {
                set->endDate = ContentOf(*date);
                ++p;
            }
        }
    }
    if (p < n) {
        if (const ASN1Object* e = ChildWithTag(element, p, 0xA1)) {
            if (const ASN1Object* list = e->FindChild(0x30)) {
                for (const ASN1Object* reference : list->GetChildren()) {
                    if (TagByte(*reference) == 0x02) set->algReference.push_back(ContentOf(*reference));
                }
            }
        }
    }
    return CKR_OK;
}

CK_RV CIOObject::ParseCommonCertificateAttributes(const ASN1Object& element)
{
    auto* set = AsCommonCertificateAttributes();
    if (set == nullptr) return WrongSet("CIOObject::ParseCommonCertificateAttributes");
    if (const ASN1Object* e = element.FindChild(0x04)) set->iD = ContentOf(*e);
    if (const ASN1Object* e = element.FindChild(0x01)) {
        const auto& contents = e->Contents();
        set->authority = std::make_unique<uint8_t>((!contents.empty() && contents[0] != 0) ? 1 : 0);
    }
    return CKR_OK;
}

CK_RV CIOObject::ParseCommonDCObjectAttributes(const ASN1Object& element)
{
    auto* set = dynamic_cast<CommonDCObjectAttributes*>(classAttributes.get());
    if (set == nullptr) return WrongSet("CIOObject::ParseCommonDCObjectAttributes");
    if (const ASN1Object* e = element.FindChild(0x0C)) set->applicationName = ContentOf(*e);
    if (const ASN1Object* e = element.FindChild(0x06)) set->applicationOID = ContentOf(*e);
    if (const ASN1Object* e = element.FindChild(0x04)) set->iD = ContentOf(*e);
    return CKR_OK;
}

CK_RV CIOObject::ParseTypeAttributes(const ASN1Object& element)
{
    switch (type) {
    case kTypePin: return ParsePasswordAttributes(element);
    case kTypeCvc: return ParseCVCAttributes(element);
    case kTypeRsaPrivateKey:
    case kTypeRsaPublicKey: return ParseRSAKeyAttributes(element);
    case kTypeEcPrivateKey:
    case kTypeEcPublicKey: return ParseECKeyAttributes(element);
    case kTypeCertificate:
    case kTypeCertificate2: return ParseCertificateObjectAttributes(element);
    case kTypeDataObject:
    case kTypeDataObject2: return ParseOpaqueDOAttributes(element);
    default: return CKR_OK;
    }
}

CK_RV CIOObject::ParsePasswordAttributes(const ASN1Object& element)
{
    auto* set = AsPasswordAttributes();
    if (set == nullptr) return WrongSet("CIOObject::ParsePasswordAttributes");
    const size_t n = ChildCount(element);
    size_t p = 0;
    if (const ASN1Object* e = ChildWithTag(element, p, 0x03)) {
        set->pwdFlags = ContentOf(*e);
        ++p;
    }
    if (const ASN1Object* e = ChildAt(element, p)) {
        set->pwdType = ContentOf(*e);
        ++p;
    }
    if (const ASN1Object* e = ChildWithTag(element, p, 0x02)) set->minLength = UnsignedOf(*e);
    ++p;
    if (const ASN1Object* e = ChildWithTag(element, p, 0x02)) set->storedLength = UnsignedOf(*e);
    ++p;
    if (const ASN1Object* e = ChildWithTag(element, p, 0x02)) {
        set->maxLength = UnsignedOf(*e);
        ++p;
    }
    if (const ASN1Object* e = ChildWithTag(element, p, 0xA0)) {
        if (const ASN1Object* reference = e->FindChild(0x02)) {
            set->pwdReference = static_cast<int32_t>(UnsignedOf(*reference));
            ++p;
        }
    }
    if (p < n) {
        if (const ASN1Object* e = ChildWithTag(element, p, 0x04)) {
            set->padChar = ContentOf(*e);
            ++p;
        }
    }
    if (p < n) {
        if (const ASN1Object* e = element.FindChild(0x18)) {
            set->lastPasswordChange = ContentOf(*e);
            ++p;
        }
    }
    if (p < n) set->path = PathOf(element);
    return CKR_OK;
}

CK_RV CIOObject::ParseCVCAttributes(const ASN1Object& element)
{
    auto* set = dynamic_cast<CVCAttributes*>(typeAttributes.get());
    if (set == nullptr) return WrongSet("CIOObject::ParseCVCAttributes");
    if (const ASN1Object* e = element.FindChild(0x04)) set->value = ContentOf(*e);
    return CKR_OK;
}

CK_RV CIOObject::ParseRSAKeyAttributes(const ASN1Object& element)
{
    auto* set = AsRSAKeyAttributes();
    if (set == nullptr) return WrongSet("CIOObject::ParseRSAKeyAttributes");
    set->path = PathOf(element);
    if (const ASN1Object* e = element.FindChild(0x02)) set->modulusLength = UnsignedOf(*e);
    if (ChildCount(element) > 2) {
        const ASN1Object* keyInfo = ChildAt(element, 2);
        set->keyInfo = ContentOf(*keyInfo);
        set->keyInfoTag = TagByte(*keyInfo);
    }
    return CKR_OK;
}

CK_RV CIOObject::ParseECKeyAttributes(const ASN1Object& element)
{
    auto* set = AsECKeyAttributes();
    if (set == nullptr) return WrongSet("CIOObject::ParseECKeyAttributes");
    set->path = PathOf(element);
    if (ChildCount(element) > 2) {
        const ASN1Object* keyInfo = ChildAt(element, 2);
        set->keyInfo = ContentOf(*keyInfo);
        set->keyInfoTag = TagByte(*keyInfo);
    }
    return CKR_OK;
}

CK_RV CIOObject::ParseCertificateObjectAttributes(const ASN1Object& element)
{
    auto* set = AsCertificateAttributes();
    if (set == nullptr) return WrongSet("CIOObject::ParseCertificateObjectAttributes");
    set->path = PathOf(element);
    if (const ASN1Object* e = element.FindChild(0x02)) set->serial = ContentOf(*e);
    return CKR_OK;
}

CK_RV CIOObject::ParseOpaqueDOAttributes(const ASN1Object& element)
{
    auto* set = dynamic_cast<OpaqueDOAttributes*>(typeAttributes.get());
    if (set == nullptr) return WrongSet("CIOObject::ParseOpaqueDOAttributes");
    set->path = PathOf(element);
    return CKR_OK;
}

}  // namespace Brelt::MW::Token
