#include <gtest/gtest.h>

#include <botan/auto_rng.h>
#include <botan/ec_group.h>
#include <botan/ecdh.h>

#include "EcDomain.h"
#include "EcKeys.h"
#include "EcdhAgreement.h"
#include "TestBytes.h"

using namespace Brelt::Crypto;
using cryptotest::Hex;
using cryptotest::ToHex;

namespace {
constexpr char kBrainpoolP256r1[] = "1.3.36.3.3.2.8.1.1.7";
}

TEST(Ecdh, Rfc7027BrainpoolP256r1Vector)
{
    const EcDomain domain(kBrainpoolP256r1);
    Botan::AutoSeeded_RNG rng;
    const EcPrivateKeyHolder a = std::make_unique<Botan::ECDH_PrivateKey>(
        rng, domain.GetGroup(), Botan::BigInt("0x81DB1EE100150FF2EA338D708271BE38300CB54241D79950F77B063039804F1D"));
    EXPECT_EQ(ToHex(GetEcPublicPoint(a).get()),
              "04"
              "44106E913F92BC02A1705D9953A8414DB95E1AAA49E81D9E85F929A8E3100BE5"
              "8AB4846F11CACCB73CE49CBDD120F5A900A69FD32C272223F789EF10EB089BDC");
    const auto peerPoint = Hex("04"
                               "8D2D688C6CF93E1160AD04CC4429117DC2C41825E1E9FCA0ADDD34E6F1B39F7B"
                               "990C57520812BE512641E47034832106BC7D3E8DD0E4C7F1136D7006547CEC6A");
    const EcPublicKeyHolder b = MakeEcPublicKeyFromPoint(domain, peerPoint.get());
    const EcdhAgreement agreement(a, b, "Raw");
    EXPECT_EQ(ToHex(agreement.Derive(0).get()), "89AFC39D41D3B327814B80940B042590F96556EC91E6AE7939BCE31F3A18BF2B");
}

TEST(Ecdh, InvalidPointsThrow)
{
    const EcDomain domain(kBrainpoolP256r1);
    auto offCurve = Hex("04"
                        "8D2D688C6CF93E1160AD04CC4429117DC2C41825E1E9FCA0ADDD34E6F1B39F7B"
                        "990C57520812BE512641E47034832106BC7D3E8DD0E4C7F1136D7006547CEC6B");
    EXPECT_ANY_THROW(MakeEcPublicKeyFromPoint(domain, offCurve.get()));
    EXPECT_ANY_THROW(MakeEcPublicKeyFromPoint(domain, Hex("04").get()));
    EXPECT_ANY_THROW(MakeEcPublicKeyFromPoint(domain, Hex("0501020304").get()));
    EXPECT_ANY_THROW(MakeEcPublicKeyFromPoint(domain, Hex("").get()));
    const EcPrivateKeyHolder none;
    EXPECT_ANY_THROW(MakeEcPublicKey(none));
}
