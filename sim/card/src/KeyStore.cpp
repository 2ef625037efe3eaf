#include "KeyStore.h"

#include "Tlv.h"

#include <botan/chacha_rng.h>
#include <botan/hash.h>
#include <botan/pkcs10.h>
#include <botan/system_rng.h>
#include <botan/x509_ca.h>
#include <botan/x509self.h>

#include <map>
#include <mutex>

namespace cardsim::detail {

namespace {

constexpr const char* kCaKeyLabel = "cardsim test CA";

std::unique_ptr<Botan::ChaCha_RNG> SeededRng(const std::string& label)
{
    auto hash = Botan::HashFunction::create_or_throw("SHA-256");
    hash->update("cardsim seed:" + label);
    return std::make_unique<Botan::ChaCha_RNG>(hash->final());
}

// Validity of every issued certificate: single- and double-digit month/day.
Botan::X509_Time NotBefore()
{
    return Botan::X509_Time("240705083000Z", Botan::UTC_TIME);
}

Botan::X509_Time NotAfter()
{
    return Botan::X509_Time("341130235959Z", Botan::UTC_TIME);
}

struct TestCa {
    std::shared_ptr<const Botan::RSA_PrivateKey> key;
    std::unique_ptr<Botan::X509_Certificate> certificate;
};

const TestCa& Ca()
{
    static const TestCa ca = [] {
        TestCa built;
        built.key = DeterministicKey(kCaKeyLabel, 2048);
        Botan::X509_Cert_Options options("Cardsim Test CA/DE/Cardsim/Simulated Cards");
        options.CA_key();
        options.start = NotBefore();
        options.end = Botan::X509_Time("441231235959Z", Botan::UTC_TIME);
        auto rng = SeededRng("CA certificate");
        built.certificate = std::make_unique<Botan::X509_Certificate>(
            Botan::X509::create_self_signed_cert(options, *built.key, "SHA-256", *rng));
        return built;
    }();
    return ca;
}

}  // namespace

std::shared_ptr<const Botan::RSA_PrivateKey> DeterministicKey(const std::string& label, size_t bits)
{
    static std::mutex mutex;
    static std::map<std::pair<std::string, size_t>, std::shared_ptr<const Botan::RSA_PrivateKey>> cache;
    std::lock_guard lock(mutex);
    auto& slot = cache[{label, bits}];
    if (!slot) {
        auto rng = SeededRng("rsa:" + label + ":" + std::to_string(bits));
        slot = std::make_shared<const Botan::RSA_PrivateKey>(*rng, bits);
    }
    return slot;
}

Bytes IssueCertificate(const Botan::RSA_PrivateKey& key, const std::string& commonName,
                       uint64_t serial, CertificateUse use)
{
    static std::mutex mutex;
    static std::map<std::pair<std::string, uint64_t>, Bytes> cache;
    const TestCa& ca = Ca();
    std::lock_guard lock(mutex);
    Bytes& slot = cache[{commonName, serial}];
    if (slot.empty()) {
        auto rng = SeededRng("certificate:" + commonName);
        Botan::X509_Cert_Options options(commonName + "/DE/Cardsim/Simulated Cards");
        options.constraints = use == CertificateUse::Signature
            ? Botan::Key_Constraints(Botan::DIGITAL_SIGNATURE | Botan::NON_REPUDIATION)
            : Botan::Key_Constraints(Botan::DIGITAL_SIGNATURE | Botan::KEY_ENCIPHERMENT);
        const Botan::PKCS10_Request request = Botan::X509::create_cert_req(options, key, "SHA-256", *rng);
        const Botan::X509_CA issuer(*ca.certificate, *ca.key, "SHA-256", *rng);
        const Botan::X509_Certificate certificate =
            issuer.sign_request(request, *rng, Botan::BigInt(serial), NotBefore(), NotAfter());
        slot = certificate.BER_encode();
    }
    return slot;
}

Bytes PublicKeyTemplate(const Botan::RSA_PrivateKey& key)
{
    return Tlv(0x7F49, Concat({Tlv(0x81, Botan::BigInt::encode(key.get_n())),
                               Tlv(0x82, Botan::BigInt::encode(key.get_e()))}));
}

Bytes TestCaCertificate()
{
    return Ca().certificate->BER_encode();
}

std::shared_ptr<const Botan::RSA_PrivateKey> TestCaKey()
{
    return Ca().key;
}

}  // namespace cardsim::detail
