#include "KeyStore.h"

#include "Tlv.h"

#include <botan/chacha_rng.h>
#include <botan/emsa.h>
#include <botan/hash.h>
#include <botan/pk_ops.h>
#include <botan/pkcs10.h>
#include <botan/numthry.h>
#include <botan/system_rng.h>
#include <botan/x509_ca.h>
#include <botan/x509self.h>

#include <map>
#include <mutex>
#include <stdexcept>

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

// Signs through RsaSign: the certificates are made without Botan's RSA
// operation (see RsaPrivateOperation).
class PlainRsaSignature final : public Botan::PK_Ops::Signature {
public:
    PlainRsaSignature(const Botan::RSA_PrivateKey& key, const std::string& emsa)
        : key_(key), emsa_(Botan::get_emsa(emsa))
    {
    }
    void update(const uint8_t message[], size_t length) override { emsa_->update(message, length); }
    Botan::secure_vector<uint8_t> sign(Botan::RandomNumberGenerator& rng) override
    {
        const auto encoded = emsa_->encoding_of(emsa_->raw_data(), key_.get_n().bits() - 1, rng);
        const Bytes signature = RsaPrivateOperation(key_, encoded.data(), encoded.size());
        return Botan::secure_vector<uint8_t>(signature.begin(), signature.end());
    }
    size_t signature_length() const override { return (key_.get_n().bits() + 7) / 8; }

private:
    const Botan::RSA_PrivateKey& key_;
    std::unique_ptr<Botan::EMSA> emsa_;
};

// An RSA key whose signatures are made by PlainRsaSignature.
class PlainRsaKey final : public Botan::Private_Key {
public:
    explicit PlainRsaKey(const Botan::RSA_PrivateKey& key) : key_(key) {}
    std::string algo_name() const override { return key_.algo_name(); }
    size_t estimated_strength() const override { return key_.estimated_strength(); }
    size_t key_length() const override { return key_.key_length(); }
    bool check_key(Botan::RandomNumberGenerator& rng, bool strong) const override
    {
        return key_.check_key(rng, strong);
    }
    Botan::AlgorithmIdentifier algorithm_identifier() const override { return key_.algorithm_identifier(); }
    std::vector<uint8_t> public_key_bits() const override { return key_.public_key_bits(); }
    Botan::secure_vector<uint8_t> private_key_bits() const override { return key_.private_key_bits(); }
    std::unique_ptr<Botan::PK_Ops::Signature> create_signature_op(Botan::RandomNumberGenerator&,
                                                                 const std::string& emsa,
                                                                 const std::string&) const override
    {
        return std::make_unique<PlainRsaSignature>(key_, emsa);
    }

private:
    const Botan::RSA_PrivateKey& key_;
};

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
            Botan::X509::create_self_signed_cert(options, PlainRsaKey(*built.key), "SHA-256", *rng));
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
        const Botan::PKCS10_Request request = Botan::X509::create_cert_req(options, PlainRsaKey(key), "SHA-256", *rng);
        const PlainRsaKey caKey(*ca.key);
        const Botan::X509_CA issuer(*ca.certificate, caKey, "SHA-256", *rng);
        const Botan::X509_Certificate certificate =
            issuer.sign_request(request, *rng, Botan::BigInt(serial), NotBefore(), NotAfter());
        slot = certificate.BER_encode();
    }
    return slot;
}

Bytes RsaPrivateOperation(const Botan::RSA_PrivateKey& key, const uint8_t* input, size_t length)
{
    const Botan::BigInt m(input, length);
    if (m >= key.get_n())
        throw std::invalid_argument("input not below the modulus");
    const Botan::BigInt result = Botan::power_mod(m, key.get_d(), key.get_n());
    const Botan::secure_vector<uint8_t> bytes = Botan::BigInt::encode_1363(result, (key.get_n().bits() + 7) / 8);
    return Bytes(bytes.begin(), bytes.end());
}

Bytes RsaSign(const Botan::RSA_PrivateKey& key, const std::string& emsa, const Bytes& message)
{
    PlainRsaSignature signature(key, emsa);
    signature.update(message.data(), message.size());
    const auto bytes = signature.sign(Botan::system_rng());
    return Bytes(bytes.begin(), bytes.end());
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
