#pragma once
// One card object (PIN, key, certificate, data object) read from an entry of
// an object directory file, or a session object; the per-kind object list and
// the factory that builds objects from directory entries.

#include <memory>
#include <vector>

#include "ASN1Object.h"
#include "BaseTypes.h"
#include "pkcs11/cryptoki.h"
#include "token/CardTypes.h"
#include "token/ObjectAttributes.h"

namespace Brelt::MW::Token {

class CIOObject {
public:
    // Builds the attribute sets of `type` and fills them from the DER of a
    // directory entry (null: no entry). Parse faults of single elements leave
    // defaults; an INTEGER beyond 32 bits or malformed DER throws.
    CIOObject(CIOObjectType type, uint32_t handle, const MW::Base::HexBinary* entry);
    virtual ~CIOObject();

    CIOObject(const CIOObject&) = delete;
    CIOObject& operator=(const CIOObject&) = delete;

    // DER of the directory entry for writing the file back. The base answers
    // CKR_FUNCTION_NOT_SUPPORTED and leaves `out` alone.
    virtual CK_RV GetASN(MW::Base::HexBinary& out) const;

    CommonObjectAttributes* GetCommonObjectRecord() const { return commonAttributes.get(); }
    CommonKeyAttributes* AsCommonKeyAttributes() const;
    CommonAuthObjectAttributes* GetCommonAuthObjectAttributes() const;
    CommonCertificateAttributes* AsCommonCertificateAttributes() const;
    PasswordAttributes* AsPasswordAttributes() const;
    RSAKeyAttributes* AsRSAKeyAttributes() const;
    ECKeyAttributes* AsECKeyAttributes() const;
    CertificateAttributes* AsCertificateAttributes() const;

    // Keeps the entry as it stood on the card. Written back unchanged while
    // the object's fields still encode as they did when it was read, so that
    // elements this module does not read survive a rewrite of the file.
    void KeepOriginalEntry(const MW::Base::HexBinary& entry);
    const MW::Base::HexBinary* OriginalEntry() const { return originalEntry_.get(); }

    // Set for EC private keys of applications whose entries wrap the key
    // object once more inside the [0] element.
    void SetWrappedEntry(bool wrapped) { wrappedEntry_ = wrapped; }

    std::unique_ptr<CommonObjectAttributes> commonAttributes;
    std::unique_ptr<ClassAttributes> classAttributes;
    std::unique_ptr<TypeAttributes> typeAttributes;
    CIOObjectType type;
    uint32_t handle;

protected:
    void InitObjectAttributes();

    // Encoding from the fields alone; false when this kind has no encoder.
    virtual bool EncodeFields(std::vector<uint8_t>& out) const;
    // The original entry while the fields are unchanged, else EncodeFields.
    CK_RV WriteBack(MW::Base::HexBinary& out) const;

    // Readers of the entry (return 0, or CKR_ARGUMENTS_BAD when the object's
    // set is not of the class the reader fills).
    CK_RV ParseCommonAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseAccessRules(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseSecurityCondition(const Crypto::ASN::ASN1Object& element, SecurityCondition& condition);
    CK_RV ParseClassAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseCommonAuthObjectAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseCommonKeyAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseCommonCertificateAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseCommonDCObjectAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseTypeAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParsePasswordAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseCVCAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseRSAKeyAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseECKeyAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseCertificateObjectAttributes(const Crypto::ASN::ASN1Object& element);
    CK_RV ParseOpaqueDOAttributes(const Crypto::ASN::ASN1Object& element);

    // Builders of the encoding; each appends its elements to `out`.
    CK_RV GetASN_CommonAttributes(std::vector<uint8_t>& out) const;
    CK_RV GetASN_AccessRules(std::vector<uint8_t>& out) const;
    void GetASN_SecurityCondition(const SecurityCondition& condition, std::vector<uint8_t>& out) const;
    CK_RV GetASN_CommonKeyAttributes(std::vector<uint8_t>& out) const;
    CK_RV GetASN_CommonCertAttributes(std::vector<uint8_t>& out) const;
    CK_RV GetASN_RSAKeyAttributes(std::vector<uint8_t>& out) const;
    CK_RV GetASN_ECKeyAttributes(std::vector<uint8_t>& out) const;
    CK_RV GetASN_X509CertAttributes(std::vector<uint8_t>& out) const;

    bool wrappedEntry_ = false;

private:
    void ParseEntry(const MW::Base::HexBinary& entry);

    std::unique_ptr<MW::Base::HexBinary> originalEntry_;
    std::vector<uint8_t> loadedEncoding_;
    bool hasLoadedEncoding_ = false;
};

class PINAuthenticationObject : public CIOObject {
public:
    PINAuthenticationObject(uint32_t handle, const MW::Base::HexBinary* entry);
    // The entry as read from the card; PIN entries have no encoder of their
    // own, so an object without a card entry answers CKR_FUNCTION_NOT_SUPPORTED.
    CK_RV GetASN(MW::Base::HexBinary& out) const override;
};

class CVCAuthenticationObject : public CIOObject {
public:
    CVCAuthenticationObject(uint32_t handle, const MW::Base::HexBinary* entry);
};

class RSAPrvKeyObject : public CIOObject {
public:
    RSAPrvKeyObject(uint32_t handle, const MW::Base::HexBinary* entry);
    CK_RV GetASN(MW::Base::HexBinary& out) const override;

protected:
    bool EncodeFields(std::vector<uint8_t>& out) const override;
};

class ECPrvKeyObject : public CIOObject {
public:
    ECPrvKeyObject(uint32_t handle, const MW::Base::HexBinary* entry);
    CK_RV GetASN(MW::Base::HexBinary& out) const override;

protected:
    bool EncodeFields(std::vector<uint8_t>& out) const override;
};

class RSAPubKeyObject : public CIOObject {
public:
    // A session public key: empty common, key and RSA attribute sets.
    RSAPubKeyObject();
    RSAPubKeyObject(uint32_t handle, const MW::Base::HexBinary* entry);
};

class ECPubKeyObject : public CIOObject {
public:
    ECPubKeyObject(uint32_t handle, const MW::Base::HexBinary* entry);
};

class CertificateObject : public CIOObject {
public:
    CertificateObject(uint32_t handle, const MW::Base::HexBinary* entry);
    CK_RV GetASN(MW::Base::HexBinary& out) const override;

protected:
    bool EncodeFields(std::vector<uint8_t>& out) const override;
};

class OpaqueDataObject : public CIOObject {
public:
    OpaqueDataObject(uint32_t handle, const MW::Base::HexBinary* entry);
};

// The objects of one directory-file kind, with the path of the file they
// were read from (null for session lists).
struct CIOObjectList {
    explicit CIOObjectList(CioFileKind listKind) : kind(listKind) {}

    CioFileKind kind;
    std::vector<std::unique_ptr<CIOObject>> objects;
    std::unique_ptr<MW::Base::HexBinary> path;
    // Number for the next object added to the list; only grows, so that a
    // handle is never given twice.
    uint32_t nextNumber = 0;
};

using CIOObjectLists = std::vector<std::unique_ptr<CIOObjectList>>;

// Builds the object of `list`'s kind from one top-level element of a
// directory file. `out` is reset first and stays null when the element is
// not an entry of that kind. CKR_ARGUMENTS_BAD (and no object) when the entry
// holds an integer beyond 32 bits or cannot be decoded; else CKR_OK.
CK_RV CreateCIOObject(std::unique_ptr<CIOObject>& out, const Crypto::ASN::ASN1Object& entry,
                      const CIOObjectList& list, uint32_t cardProfile);

// Deletes every list with its objects and empties the vector; null is ignored.
void DeleteSessionObjects(CIOObjectLists* lists);

}  // namespace Brelt::MW::Token
