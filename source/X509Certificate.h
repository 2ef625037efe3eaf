#pragma once

#include <memory>
#include <string>
#include <vector>

#include "BaseTypes.h"
#include "RsaKey.h"

namespace Botan {
class X509_Certificate;
}

namespace Brelt::Crypto {

// A parsed X.509 certificate together with the exact bytes it was read from.
struct ParsedCertificate {
    std::unique_ptr<Botan::X509_Certificate> certificate;
    std::vector<uint8_t> encoding;

    ParsedCertificate();
    ~ParsedCertificate();
};

using CertificateHolder = std::unique_ptr<ParsedCertificate>;

// Botan's exception passes for bytes that are not a certificate.
CertificateHolder ParseCertificate(const Brelt::MW::Base::HexBinary* der);

// Throws the text "Unsupported key format in certificate" (a const char*)
// when the subject key is not an RSA key.
RsaKeyHolder GetCertificatePublicKey(const CertificateHolder& certificate);

std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateSerial(const CertificateHolder& certificate);
// DER encoding of the distinguished names.
std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateSubjectDn(const CertificateHolder& certificate);
std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateIssuerDn(const CertificateHolder& certificate);
// The certificate exactly as it was parsed.
std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateEncoding(const CertificateHolder& certificate);
// Validity as "YYYY/MM/DD hh:mm:ss UTC".
std::string GetCertificateNotBefore(const CertificateHolder& certificate);
std::string GetCertificateNotAfter(const CertificateHolder& certificate);

// The same fields of a certificate held elsewhere (for example shared by a
// card object). Botan's exception passes for a certificate without content.
RsaKeyHolder GetCertificatePublicKey(const ParsedCertificate& certificate);
std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateSerial(const ParsedCertificate& certificate);
std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateSubjectDn(const ParsedCertificate& certificate);
std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateIssuerDn(const ParsedCertificate& certificate);
std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateEncoding(const ParsedCertificate& certificate);
std::string GetCertificateNotBefore(const ParsedCertificate& certificate);
std::string GetCertificateNotAfter(const ParsedCertificate& certificate);

void ReleaseCertificate(CertificateHolder& holder);

}  // namespace Brelt::Crypto
