// Reproducible key material: RSA keys from seeded generators and X.509
// certificates issued by the simulator's test CA. Keys and certificates are
// cached per process because RSA key generation is slow.
#pragma once

#include <cardsim/Card.h>

#include <botan/rsa.h>

#include <cstdint>
#include <memory>
#include <string>

namespace cardsim::detail {

// The same label and size always give the same key.
std::shared_ptr<const Botan::RSA_PrivateKey> DeterministicKey(const std::string& label, size_t bits);

enum class CertificateUse { Signature, Authentication };

// DER certificate for `key`, issued by the test CA, with an 8-byte serial.
Bytes IssueCertificate(const Botan::RSA_PrivateKey& key, const std::string& commonName,
                       uint64_t serial, CertificateUse use);

// The private-key operations of the simulated card: a plain modular
// exponentiation. Botan's own RSA operation hands half of its work to a
// process-wide thread pool, which a process forked after the card was used
// inherits without its threads and then waits for at exit; nothing of the
// simulator may start that pool.
// m^d mod n, as many bytes as the modulus; throws std::invalid_argument for
// an input not below the modulus.
Bytes RsaPrivateOperation(const Botan::RSA_PrivateKey& key, const uint8_t* input, size_t length);
// A signature with the named EMSA encoding ("EMSA3(Raw)", "EMSA3(SHA-256)").
Bytes RsaSign(const Botan::RSA_PrivateKey& key, const std::string& emsa, const Bytes& message);

// Public key as the card exports it: 7F49 { 81 modulus, 82 exponent }.
Bytes PublicKeyTemplate(const Botan::RSA_PrivateKey& key);

// DER certificate of the test CA, and its key (which also signs the eID
// security objects).
Bytes TestCaCertificate();
std::shared_ptr<const Botan::RSA_PrivateKey> TestCaKey();

}  // namespace cardsim::detail
