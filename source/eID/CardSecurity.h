#pragma once
// EF.CardSecurity: the security infos inside a CMS SignedData, as the card
// stores it (the SignedData itself, without a ContentInfo around it).

#include <botan/x509_crl.h>
#include <botan/x509cert.h>

#include <memory>
#include <string>
#include <vector>

#include "../BaseTypes.h"
#include "SecurityInfos.h"
#include "eIDCardFile.h"

namespace Brelt::Crypto::EIDStruct {

class EncapsulatedContentInfo {
public:
    // Parses the DER of the SEQUENCE. MWException 100009 on any failure.
    explicit EncapsulatedContentInfo(const MW::Base::HexBinary* encoding);

    const std::string& GetEContentType() const { return eContentType_; }
    // DER of the SET OF SecurityInfo.
    const MW::Base::HexBinary& GetEContent() const { return eContent_; }
    const SecurityInfoList& GetSecurityInfos() const { return infos_; }

private:
    std::string eContentType_;
    MW::Base::HexBinary eContent_;
    SecurityInfoList infos_;
};

// Signer identifier: the subject key identifier, or the issuer and serial
// number; all empty for a form the module does not read.
struct SignerIdentifier {
    HexBinaryPtr subjectKeyIdentifier;
    HexBinaryPtr issuer;
    HexBinaryPtr serialNumber;
};

class SignerInfo {
public:
    // Parses the DER of the SEQUENCE. MWException 100010 on any failure.
    explicit SignerInfo(const MW::Base::HexBinary* encoding);

    const MW::Base::HexBinary& GetRawData() const { return raw_; }
    uint32_t GetVersion() const { return version_; }
    const SignerIdentifier& GetSid() const { return sid_; }
    const AlgorithmIdentifierData& GetDigestAlgorithm() const { return digestAlgorithm_; }
    const AlgorithmIdentifierData& GetSignatureAlgorithm() const { return signatureAlgorithm_; }
    const MW::Base::HexBinary& GetSignature() const { return signature_; }

private:
    MW::Base::HexBinary raw_;
    uint32_t version_ = 0;
    SignerIdentifier sid_;
    AlgorithmIdentifierData digestAlgorithm_;
    AlgorithmIdentifierData signatureAlgorithm_;
    MW::Base::HexBinary signature_;
};

class CardSecurity : public eIDCardFile {
public:
    // Parses the file. MWException 100008 for a null, empty or undecodable
    // file, 100009 / 100010 for a malformed content info / signer info, the
    // code of an entry's class for a malformed recognised security info.
    explicit CardSecurity(const MW::Base::HexBinary* data);
    ~CardSecurity() override;

    uint32_t GetVersion() const { return version_; }
    const std::vector<AlgorithmIdentifierData>& GetDigestAlgorithms() const { return digestAlgorithms_; }
    const EncapsulatedContentInfo& GetEncapsulatedContentInfo() const { return *encapContentInfo_; }
    const std::vector<Botan::X509_Certificate>& GetCertificates() const { return certificates_; }
    const std::vector<Botan::X509_CRL>& GetCrls() const { return crls_; }
    const std::vector<std::unique_ptr<SignerInfo>>& GetSignerInfos() const { return signerInfos_; }

    const SecurityInfoList* SecurityInfos() const override;

private:
    uint32_t version_ = 0;
    std::vector<AlgorithmIdentifierData> digestAlgorithms_;
    std::unique_ptr<EncapsulatedContentInfo> encapContentInfo_;
    std::vector<Botan::X509_Certificate> certificates_;
    std::vector<Botan::X509_CRL> crls_;
    std::vector<std::unique_ptr<SignerInfo>> signerInfos_;
};

}  // namespace Brelt::Crypto::EIDStruct
