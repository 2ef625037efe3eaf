#include "X509Certificate.h"

#include <botan/rsa.h>
#include <botan/x509cert.h>

#include <stdexcept>

#include "Ber.h"
#include "CryptoBytes.h"

namespace Brelt::Crypto {

ParsedCertificate::ParsedCertificate() = default;
ParsedCertificate::~ParsedCertificate() = default;

namespace {
const ParsedCertificate& Held(const CertificateHolder& holder)
{
    if (!holder)
        throw std::invalid_argument("certificate: none");
    return *holder;
}

const Botan::X509_Certificate& Cert(const ParsedCertificate& parsed)
{
    if (!parsed.certificate)
        throw std::invalid_argument("certificate: none");
    return *parsed.certificate;
}
// Card files are usually larger than the certificate they hold and are
// padded with 00 or FF: the certificate is the outer element alone. Bytes
// whose header cannot be read are left whole for Botan to refuse.
std::span<const uint8_t> OuterElement(const Brelt::MW::Base::HexBinary* der)
{
    const auto bytes = BytesOf(der);
    try {
        const size_t size = size_t{Ber::GetTagLength(der)} + Ber::GetLengthFieldSize(der) + Ber::GetValueLength(der);
        if (size <= bytes.size()) return bytes.first(size);
    } catch (const Brelt::MW::Base::MWException&) {
    }
    return bytes;
}
}  // namespace

CertificateHolder ParseCertificate(const Brelt::MW::Base::HexBinary* der)
{
    const auto bytes = OuterElement(der);
    auto holder = std::make_unique<ParsedCertificate>();
    holder->encoding.assign(bytes.begin(), bytes.end());
    holder->certificate = std::make_unique<Botan::X509_Certificate>(holder->encoding);
    return holder;
}

RsaKeyHolder GetCertificatePublicKey(const ParsedCertificate& certificate)
{
    const auto& cert = Cert(certificate);
    const std::unique_ptr<Botan::Public_Key> key = cert.load_subject_public_key();
    if (dynamic_cast<const Botan::RSA_PublicKey*>(key.get()) == nullptr)
        throw "Unsupported key format in certificate";
    return std::make_unique<Botan::RSA_PublicKey>(cert.subject_public_key_algo(),
                                                  cert.subject_public_key_bitstring());
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateSerial(const ParsedCertificate& certificate)
{
    return MakeHexBinary(Cert(certificate).serial_number());
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateSubjectDn(const ParsedCertificate& certificate)
{
    return MakeHexBinary(Cert(certificate).raw_subject_dn());
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateIssuerDn(const ParsedCertificate& certificate)
{
    return MakeHexBinary(Cert(certificate).raw_issuer_dn());
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateEncoding(const ParsedCertificate& certificate)
{
    Cert(certificate);
    return MakeHexBinary(certificate.encoding);
}

std::string GetCertificateNotBefore(const ParsedCertificate& certificate)
{
    return Cert(certificate).not_before().readable_string();
}

std::string GetCertificateNotAfter(const ParsedCertificate& certificate)
{
    return Cert(certificate).not_after().readable_string();
}

RsaKeyHolder GetCertificatePublicKey(const CertificateHolder& certificate)
{
    return GetCertificatePublicKey(Held(certificate));
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateSerial(const CertificateHolder& certificate)
{
    return GetCertificateSerial(Held(certificate));
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateSubjectDn(const CertificateHolder& certificate)
{
    return GetCertificateSubjectDn(Held(certificate));
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateIssuerDn(const CertificateHolder& certificate)
{
    return GetCertificateIssuerDn(Held(certificate));
}

std::unique_ptr<Brelt::MW::Base::HexBinary> GetCertificateEncoding(const CertificateHolder& certificate)
{
    return GetCertificateEncoding(Held(certificate));
}

std::string GetCertificateNotBefore(const CertificateHolder& certificate)
{
    return GetCertificateNotBefore(Held(certificate));
}

std::string GetCertificateNotAfter(const CertificateHolder& certificate)
{
    return GetCertificateNotAfter(Held(certificate));
}

void ReleaseCertificate(CertificateHolder& holder)
{
    holder.reset();
}

}  // namespace Brelt::Crypto
