// A simulated card in a simulated reader behind the initialised library: the
// module's own card detection loads it, and the tests reach its keys through
// the application table and log in by presenting the PIN to the card.
#pragma once

#include <gtest/gtest.h>

#include <botan/pubkey.h>
#include <cardsim/Card.h>
#include <cardsim/Readers.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "card/CardApplications.h"
#include "card/Slot.h"
#include "card/StatusCache.h"
#include "pkcs11/Session.h"
#include "pkcs11/cryptoki.h"
#include "tests/sign/ChannelApplication.h"
#include "token/ApplicationInfoList.h"
#include "token/CardTypes.h"

namespace signtest {

inline constexpr const char* kReader = "Sign Reader";
inline constexpr CK_MECHANISM kRsaPkcs{CKM_RSA_PKCS, nullptr, 0};

using channeltest::DigestInfo;

inline CK_RV SignInit(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key)
{
    CK_MECHANISM mechanism = kRsaPkcs;
    return C_SignInit(session, &mechanism, key);
}

class SignTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(), Brelt::MW::Card::InstallCardApplications(nullptr); }
    void TearDown() override { C_Finalize(nullptr), cardsim::ClearFaults(), cardsim::RemoveAllReaders(); }

    // Inserts the card and initialises the library; the card's one slot.
    void Load(const std::string& personalisation, cardsim::PinPad pinPad = cardsim::PinPad::None,
              CK_C_INITIALIZE_ARGS* args = nullptr)
    {
        cardsim::AddReader(kReader, pinPad);
        card_ = cardsim::InsertCard(kReader, personalisation);
        ASSERT_EQ(C_Initialize(args), CKR_OK);
        CK_ULONG count = 1;
        ASSERT_EQ(C_GetSlotList(CK_TRUE, &slot_, &count), CKR_OK);
        ASSERT_EQ(count, 1u) << personalisation;
    }

    CK_SESSION_HANDLE Open(CK_FLAGS flags = CKF_SERIAL_SESSION)
    {
        CK_SESSION_HANDLE session = 0;
        EXPECT_EQ(C_OpenSession(slot_, flags, nullptr, nullptr, &session), CKR_OK);
        return session;
    }

    void LogIn(CK_SESSION_HANDLE session)
    {
        std::string pin = card_->UserPin();
        ASSERT_EQ(C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(pin.data()), pin.size()), CKR_OK);
    }

    CK_SESSION_HANDLE LoadAndLogIn(const std::string& personalisation, cardsim::PinPad pinPad = cardsim::PinPad::None)
    {
        Load(personalisation, pinPad);
        const CK_SESSION_HANDLE session = Open();
        LogIn(session);
        return session;
    }

    // Handles of the token's private keys, in list order.
    std::vector<CK_OBJECT_HANDLE> PrivateKeys()
    {
        std::vector<CK_OBJECT_HANDLE> handles;
        Brelt::MW::Token::ApplicationInfoPtr application;
        EXPECT_EQ(Brelt::MW::Token::GetApplicationInfo(static_cast<uint32_t>(slot_), application), CKR_OK);
        if (!application) return handles;
        if (auto* list = application->FindObjectList(Brelt::MW::Token::kKindRsaPrivateKey)) {
            for (const auto& object : list->objects) handles.push_back(object->handle);
        }
        return handles;
    }

    // Whether certificate `index` (1-based, file 43 0n under 5015) verifies the signature.
    bool Verifies(uint8_t index, const std::vector<uint8_t>& data, const std::vector<uint8_t>& signature)
    {
        const auto key = channeltest::CertificateKey(*card_, {0x50, 0x15}, index);
        return Botan::PK_Verifier(*key, "EMSA3(Raw)").verify_message(data, signature);
    }

    // Card commands since the last call, as hex text.
    std::vector<std::string> Commands()
    {
        std::vector<std::string> commands;
        for (const auto& entry : cardsim::Transcript(kReader)) commands.push_back(cardsim::ToHex(entry.command));
        cardsim::ClearTranscript(kReader);
        return commands;
    }

    static bool AnyStartsWith(const std::vector<std::string>& commands, const std::string& prefix)
    {
        return std::any_of(commands.begin(), commands.end(),
                           [&](const std::string& c) { return c.rfind(prefix, 0) == 0; });
    }

    // Whether the module holds a PC/SC transaction on the card (another
    // process would wait for it).
    bool TransactionOpen()
    {
        const auto slot = Brelt::MW::Card::StatusCache::GetSlotWithoutProbe(slot_);
        return slot && slot->IsTransactionOpen();
    }

    std::shared_ptr<cardsim::Card> card_;
    CK_SLOT_ID slot_ = 0;
};

}  // namespace signtest
