#pragma once
// A small card application built in memory for the attribute and search tests:
// two RSA private keys, a public key, two certificates, a PIN and a data object.

#include <botan/auto_rng.h>
#include <botan/rsa.h>
#include <botan/x509_ca.h>
#include <botan/x509self.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "BaseTypes.h"
#include "token/AttributeSource.h"
#include "token/CIOObject.h"

namespace attrstest {

using namespace Brelt::MW::Token;
using Brelt::MW::Base::HexBinary;

inline std::unique_ptr<HexBinary> Hex(const std::string& hex) { return std::make_unique<HexBinary>(hex); }

inline std::string ToHex(const void* data, size_t length)
{
    return HexBinary(static_cast<const unsigned char*>(data), static_cast<int32_t>(length), true).ToString();
}

// One certificate signed by a throw-away CA, valid from 2021-07-05.
struct TestCertificate {
    std::unique_ptr<Botan::RSA_PrivateKey> key;
    std::vector<uint8_t> der;

    static const TestCertificate& Get()
    {
        static const TestCertificate* made = [] {
            auto* c = new TestCertificate;
            Botan::AutoSeeded_RNG rng;
            Botan::RSA_PrivateKey caKey(rng, 1024);
            c->key = std::make_unique<Botan::RSA_PrivateKey>(rng, 1024);
            Botan::X509_Cert_Options caOptions("Attr Test CA/SK");
            caOptions.CA_key();
            const auto caCert = Botan::X509::create_self_signed_cert(caOptions, caKey, "SHA-256", rng);
            const Botan::X509_CA ca(caCert, caKey, "SHA-256", rng);
            const auto request = Botan::X509::create_cert_req(Botan::X509_Cert_Options("Key Holder/SK"), *c->key,
                                                              "SHA-256", rng);
            const auto start = std::chrono::system_clock::from_time_t(1625479872);  // 2021-07-05 10:11:12 UTC
            const auto cert = ca.sign_request(request, rng, Botan::BigInt(0x0A0B0C), Botan::X509_Time(start),
                                              Botan::X509_Time(start + std::chrono::hours(24 * 148)));
            c->der = cert.BER_encode();
            return c;
        }();
        return *made;
    }
};

struct TokenFixture {
    CIOObjectLists lists;
    AttributeSource source;
    int certificateReads = 0;
    CK_RV certificateReadResult = CKR_OK;

    CIOObject* signKey = nullptr;
    CIOObject* publicKey = nullptr;
    CIOObject* signCert = nullptr;
    CIOObject* caCert = nullptr;

    TokenFixture()
    {
        auto& keys = AddList(kKindRsaPrivateKey);
        signKey = AddKey(keys, 0x00030000, "Signature key", "01", "0780", "0420", "3F0050154B01");
        AddKey(keys, 0x00030001, "Authentication key", "0102", "0780", "0460", "3F0050154B02");
        signKey->GetCommonObjectRecord()->authId = Hex("01");

        auto& publicKeys = AddList(kKindRsaPublicKey);
        publicKeys.objects.push_back(std::make_unique<RSAPubKeyObject>(0x00040000, nullptr));
        publicKey = publicKeys.objects.back().get();
        publicKey->GetCommonObjectRecord()->label = Hex(Text("Signature key"));
        publicKey->GetCommonObjectRecord()->flags = Hex("0640");
        publicKey->AsCommonKeyAttributes()->iD = Hex("01");
        publicKey->AsCommonKeyAttributes()->usage = Hex("0102");
        publicKey->AsRSAKeyAttributes()->modulusLength = 2048;

        auto& certificates = AddList(kKindCertificate);
        signCert = AddCertificate(certificates, 0x00070000, "Signature certificate", "01", "4301");
        caCert = AddCertificate(certificates, 0x00070001, "CA certificate", "FF", "");

        auto& pins = AddList(kKindPin);
        pins.objects.push_back(std::make_unique<PINAuthenticationObject>(0x00010000, nullptr));
        auto& data = AddList(kKindDataObject);
        data.objects.push_back(std::make_unique<OpaqueDataObject>(0x00080000, nullptr));

        source.hasApplication = true;
        source.cardProfile = DefaultProfile;
        source.cardOS = CardOSv50;
        source.algorithms = {CKM_RSA_PKCS, CKM_RSA_X_509, CKM_SHA256_RSA_PKCS};
        source.tokenObjects = &lists;
        source.readCertificate = [this](const HexBinary&, std::shared_ptr<Brelt::Crypto::ParsedCertificate>& out) {
            ++certificateReads;
            if (certificateReadResult != CKR_OK) return certificateReadResult;
            const auto& der = TestCertificate::Get().der;
            const HexBinary bytes(der.data(), static_cast<int32_t>(der.size()), true);
            out = std::shared_ptr<Brelt::Crypto::ParsedCertificate>(Brelt::Crypto::ParseCertificate(&bytes));
            return CKR_OK;
        };
    }

    static std::string Text(const std::string& text) { return ToHex(text.data(), text.size()); }

    CIOObjectList& AddList(CioFileKind kind)
    {
        lists.push_back(std::make_unique<CIOObjectList>(kind));
        return *lists.back();
    }

    CIOObject* AddKey(CIOObjectList& list, uint32_t handle, const std::string& label, const std::string& id,
                      const std::string& flags, const std::string& usage, const std::string& path)
    {
        list.objects.push_back(std::make_unique<RSAPrvKeyObject>(handle, nullptr));
        CIOObject* key = list.objects.back().get();
        key->GetCommonObjectRecord()->label = Hex(Text(label));
        key->GetCommonObjectRecord()->flags = Hex(flags);
        key->AsCommonKeyAttributes()->iD = Hex(id);
        key->AsCommonKeyAttributes()->usage = Hex(usage);
        key->AsCommonKeyAttributes()->accessFlags = Hex("03B8");
        key->AsRSAKeyAttributes()->path = Hex(path);
        key->AsRSAKeyAttributes()->modulusLength = 2048;
        return key;
    }

    CIOObject* AddCertificate(CIOObjectList& list, uint32_t handle, const std::string& label, const std::string& id,
                              const std::string& path)
    {
        list.objects.push_back(std::make_unique<CertificateObject>(handle, nullptr));
        CIOObject* cert = list.objects.back().get();
        cert->GetCommonObjectRecord()->label = Hex(Text(label));
        cert->GetCommonObjectRecord()->flags = Hex("0640");
        cert->AsCommonCertificateAttributes()->iD = Hex(id);
        if (!path.empty()) cert->AsCertificateAttributes()->path = Hex(path);
        return cert;
    }
};

}  // namespace attrstest
