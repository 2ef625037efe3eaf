#include "EidFiles.h"

#include "KeyStore.h"

#include <botan/asn1_oid.h>
#include <botan/chacha_rng.h>
#include <botan/der_enc.h>
#include <botan/hash.h>
#include <botan/pubkey.h>
#include <botan/system_rng.h>
#include <botan/pkix_types.h>
#include <botan/x509cert.h>

#include <mutex>

namespace cardsim::detail {

namespace {

// Protocol identifiers (BSI TR-03110).
const char* const kPaceEcdhGmAes128 = "0.4.0.127.0.7.2.2.4.2.2";
const char* const kCaEcdh3Des = "0.4.0.127.0.7.2.2.3.2.1";
const char* const kCaEcdh = "0.4.0.127.0.7.2.2.3.2";
const char* const kPkEcdh = "0.4.0.127.0.7.2.2.1.2";
const char* const kStandardizedDomainParameters = "0.4.0.127.0.7.1.2";
const char* const kSecurityObject = "0.4.0.127.0.7.3.2.1";
const char* const kPinInfo = "1.0.24727.3.0.9";
constexpr size_t kBrainpoolP256r1Id = 13;

void AddDomainParameters(Botan::DER_Encoder& der)
{
    der.start_cons(Botan::SEQUENCE)
        .encode(Botan::OID(kStandardizedDomainParameters))
        .encode(kBrainpoolP256r1Id)
        .end_cons();
}

Bytes PaceInfo()
{
    Botan::DER_Encoder der;
    der.start_cons(Botan::SEQUENCE).encode(Botan::OID(kPaceEcdhGmAes128)).encode(size_t(2))
        .encode(kBrainpoolP256r1Id).end_cons();
    return der.get_contents_unlocked();
}

Bytes ChipAuthenticationInfo()
{
    Botan::DER_Encoder der;
    der.start_cons(Botan::SEQUENCE).encode(Botan::OID(kCaEcdh3Des)).encode(size_t(1))
        .encode(size_t(kChipAuthenticationKeyId)).end_cons();
    return der.get_contents_unlocked();
}

Bytes ChipAuthenticationDomainParameterInfo()
{
    Botan::DER_Encoder der;
    der.start_cons(Botan::SEQUENCE).encode(Botan::OID(kCaEcdh));
    AddDomainParameters(der);
    der.encode(size_t(kChipAuthenticationKeyId)).end_cons();
    return der.get_contents_unlocked();
}

Bytes ChipAuthenticationPublicKeyInfo(const Botan::ECDH_PrivateKey& chipKey)
{
    const Bytes point = chipKey.public_value();
    Botan::DER_Encoder der;
    der.start_cons(Botan::SEQUENCE)
        .encode(Botan::OID(kPkEcdh))
        .start_cons(Botan::SEQUENCE)          // SubjectPublicKeyInfo
        .start_cons(Botan::SEQUENCE)          // AlgorithmIdentifier
        .encode(Botan::OID(kPkEcdh));
    AddDomainParameters(der);
    der.end_cons()
        .encode(point, Botan::BIT_STRING)
        .end_cons()
        .encode(size_t(kChipAuthenticationKeyId))
        .end_cons();
    return der.get_contents_unlocked();
}

Bytes PinInfo()
{
    Botan::DER_Encoder der;
    der.start_cons(Botan::SEQUENCE).encode(Botan::OID(kPinInfo)).encode(size_t(1)).encode(size_t(6)).end_cons();
    return der.get_contents_unlocked();
}

Bytes SetOf(const std::vector<Bytes>& infos)
{
    Botan::DER_Encoder der;
    der.start_cons(Botan::SET);
    for (const Bytes& info : infos)
        der.raw_bytes(info);
    der.end_cons();
    return der.get_contents_unlocked();
}

}  // namespace

std::shared_ptr<const Botan::ECDH_PrivateKey> ChipAuthenticationKey()
{
    static std::once_flag once;
    static std::shared_ptr<const Botan::ECDH_PrivateKey> key;
    std::call_once(once, [] {
        const std::string seed = "cardsim seed:chip authentication key, brainpoolP256r1";
        Botan::ChaCha_RNG rng(Botan::secure_vector<uint8_t>(seed.begin(), seed.end()));
        key = std::make_shared<const Botan::ECDH_PrivateKey>(rng, Botan::EC_Group("brainpool256r1"));
    });
    return key;
}

Bytes EncodeCardAccess(const Botan::ECDH_PrivateKey&)
{
    return SetOf({PaceInfo(), ChipAuthenticationInfo(), ChipAuthenticationDomainParameterInfo(), PinInfo()});
}

Bytes EncodeCardSecurity(const Botan::ECDH_PrivateKey& chipKey, CardSecurityGap gap)
{
    std::vector<Bytes> infos{PaceInfo(), ChipAuthenticationInfo()};
    if (gap != CardSecurityGap::DomainParameters)
        infos.push_back(ChipAuthenticationDomainParameterInfo());
    if (gap != CardSecurityGap::PublicKey)
        infos.push_back(ChipAuthenticationPublicKeyInfo(chipKey));
    const Bytes content = SetOf(infos);
    // Signed by the test CA itself, without signed attributes.
    const Botan::X509_Certificate signer(TestCaCertificate());
    const Bytes signature = RsaSign(*TestCaKey(), "EMSA3(SHA-256)", content);
    const Botan::AlgorithmIdentifier sha256(Botan::OID("2.16.840.1.101.3.4.2.1"),
                                            Botan::AlgorithmIdentifier::USE_NULL_PARAM);
    const Botan::AlgorithmIdentifier sha256WithRsa(Botan::OID("1.2.840.113549.1.1.11"),
                                                   Botan::AlgorithmIdentifier::USE_NULL_PARAM);
    const Bytes caCertificate = TestCaCertificate();

    Botan::DER_Encoder der;
    der.start_cons(Botan::SEQUENCE)
        .encode(size_t(3))
        .start_cons(Botan::SET).encode(sha256).end_cons()
        .start_cons(Botan::SEQUENCE)                        // encapContentInfo
        .encode(Botan::OID(kSecurityObject))
        .start_cons(Botan::ASN1_Tag(0), Botan::CONTEXT_SPECIFIC)
        .encode(content, Botan::OCTET_STRING)
        .end_cons()
        .end_cons()
        .start_cons(Botan::ASN1_Tag(0), Botan::CONTEXT_SPECIFIC)  // certificates
        .raw_bytes(caCertificate)
        .end_cons()
        .start_cons(Botan::SET)                             // signerInfos
        .start_cons(Botan::SEQUENCE)
        .encode(size_t(1))
        .start_cons(Botan::SEQUENCE)                        // issuerAndSerialNumber
        .encode(signer.issuer_dn())
        .encode(Botan::BigInt::decode(signer.serial_number()))
        .end_cons()
        .encode(sha256)
        .encode(sha256WithRsa)
        .encode(signature, Botan::OCTET_STRING)
        .end_cons()
        .end_cons()
        .end_cons();
    return der.get_contents_unlocked();
}

}  // namespace cardsim::detail
