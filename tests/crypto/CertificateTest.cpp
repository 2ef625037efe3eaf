#include <gtest/gtest.h>

#include <botan/auto_rng.h>
#include <botan/pkcs10.h>
#include <botan/rsa.h>
#include <botan/x509_ca.h>
#include <botan/x509self.h>

#include <chrono>

#include "RsaKey.h"
#include "TestBytes.h"
#include "X509Certificate.h"

using namespace Brelt::Crypto;
using cryptotest::Hex;
using cryptotest::ToHex;

namespace {

class CertificateTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        caKey_ = new Botan::RSA_PrivateKey(rng_, 1024);
        userKey_ = new Botan::RSA_PrivateKey(rng_, 1024);
        Botan::X509_Cert_Options caOptions("Test Root CA/SK/Test Issuer");
        caOptions.CA_key();
        const auto caCert = Botan::X509::create_self_signed_cert(caOptions, *caKey_, "SHA-256", rng_);
        const Botan::X509_CA ca(caCert, *caKey_, "SHA-256", rng_);
        const auto request =
            Botan::X509::create_cert_req(Botan::X509_Cert_Options("Holder Name/SK/Test Org"), *userKey_, "SHA-256", rng_);
        const auto start = std::chrono::system_clock::from_time_t(1522746307);  // 2018-04-03 09:05:07 UTC
        const auto end = start + std::chrono::hours(24 * 365);
        const auto cert = ca.sign_request(request, rng_, Botan::BigInt(0x0123456789ULL), Botan::X509_Time(start),
                                          Botan::X509_Time(end));
        der_ = cert.BER_encode();
    }
    static void TearDownTestSuite()
    {
        delete caKey_;
        delete userKey_;
    }

    static CertificateHolder Parse()
    {
        const auto bytes = Hex(ToHex(der_));
        return ParseCertificate(bytes.get());
    }

    static inline Botan::AutoSeeded_RNG rng_;
    static inline Botan::RSA_PrivateKey* caKey_ = nullptr;
    static inline Botan::RSA_PrivateKey* userKey_ = nullptr;
    static inline std::vector<uint8_t> der_;
};

}  // namespace

TEST_F(CertificateTest, FieldAccess)
{
    CertificateHolder cert = Parse();
    EXPECT_EQ(ToHex(GetCertificateSerial(cert).get()), "0123456789");
    EXPECT_EQ(GetCertificateNotBefore(cert), "2018/04/03 09:05:07 UTC");
    EXPECT_EQ(GetCertificateNotAfter(cert), "2019/04/03 09:05:07 UTC");
    EXPECT_EQ(ToHex(GetCertificateEncoding(cert).get()), ToHex(der_));

    const Botan::X509_Certificate reference(der_);
    EXPECT_EQ(ToHex(GetCertificateSubjectDn(cert).get()), ToHex(reference.raw_subject_dn()));
    EXPECT_EQ(ToHex(GetCertificateIssuerDn(cert).get()), ToHex(reference.raw_issuer_dn()));

    const RsaKeyHolder key = GetCertificatePublicKey(cert);
    EXPECT_EQ(ToHex(GetRsaModulus(key).get()), ToHex(Botan::BigInt::encode(userKey_->get_n())));
    ReleaseCertificate(cert);
    EXPECT_EQ(cert, nullptr);
}

TEST_F(CertificateTest, FillAfterTheCertificateIsNotPartOfIt)
{
    // Card files are allocated larger than the certificate and filled.
    for (const char* fill : {"00", "FF"}) {
        std::string padded = ToHex(der_);
        for (int i = 0; i < 300; ++i) padded += fill;
        const CertificateHolder cert = ParseCertificate(Hex(padded).get());
        EXPECT_EQ(ToHex(GetCertificateEncoding(cert).get()), ToHex(der_)) << fill;
        EXPECT_EQ(cert->encoding, der_) << fill;
        EXPECT_EQ(ToHex(GetCertificateSerial(cert).get()), "0123456789") << fill;
    }
}

TEST_F(CertificateTest, MalformedBytesThrow)
{
    EXPECT_ANY_THROW(ParseCertificate(Hex("").get()));
    EXPECT_ANY_THROW(ParseCertificate(Hex("3003020100").get()));
    EXPECT_ANY_THROW(ParseCertificate(Hex("30FFFFFFFF").get()));
    EXPECT_ANY_THROW(ParseCertificate(nullptr));
    // Every truncation of a good certificate is refused without a crash.
    for (size_t cut = 1; cut < der_.size(); cut += 37) {
        const auto part = Hex(ToHex(std::vector<uint8_t>(der_.begin(), der_.begin() + static_cast<long>(cut))));
        EXPECT_ANY_THROW(ParseCertificate(part.get())) << cut;
    }
    const CertificateHolder none;
    EXPECT_ANY_THROW(GetCertificateSerial(none));
}
