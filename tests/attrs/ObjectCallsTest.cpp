// The object calls and the object search of a session on a simulated card,
// and the token and object exports end to end: the module initialised
// in-process over a simulated reader, its card loaded by the token layer.

#include <botan/rsa.h>
#include <botan/x509cert.h>

#include <cardsim/Personalisations.h>

#include "../token/CardFixture.h"
#include "LogNames.h"
#include "card/CardApplications.h"
#include "pkcs11/cryptoki.h"
#include "pkcs11/InternalOperations.h"
#include "pkcs11/Session.h"
#include "pkcs11/SessionOperations.h"
#include "token/AttributeGetters.h"

using namespace Brelt::MW::Pkcs11;
using namespace token_test;

namespace {

class ObjectCallsTest : public CardFixture {
protected:
    void Open(const std::string& personalisation = "DEF50", CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION)
    {
        Load(personalisation);
        ASSERT_EQ(AddSession(slot_->SlotId(), flags, &hSession_), CKR_OK);
        ASSERT_EQ(GetSessionByHandle(hSession_, session_), CKR_OK);
    }

    void LogIn() { session_->SetState(session_->IsReadWrite() ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS); }

    std::vector<CK_OBJECT_HANDLE> Find(std::vector<CK_ATTRIBUTE> attributes)
    {
        EXPECT_EQ(FindObjectsInit(hSession_, attributes.empty() ? nullptr : attributes.data(), attributes.size()),
                  CKR_OK);
        std::vector<CK_OBJECT_HANDLE> handles(32);
        CK_ULONG found = 0;
        EXPECT_EQ(FindObjects(hSession_, handles.data(), handles.size(), &found), CKR_OK);
        EXPECT_EQ(FindObjectsFinal(hSession_), CKR_OK);
        handles.resize(found);
        return handles;
    }

    std::vector<uint8_t> Value(CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
    {
        CK_ATTRIBUTE query{type, nullptr, 0};
        EXPECT_EQ(GetAttributeValue(hSession_, object, &query, 1), CKR_OK);
        if (query.ulValueLen == CK_UNAVAILABLE_INFORMATION) return {};
        std::vector<uint8_t> value(query.ulValueLen);
        query.pValue = value.data();
        EXPECT_EQ(GetAttributeValue(hSession_, object, &query, 1), CKR_OK);
        return value;
    }

    // A session public key with the modulus of the card's first key.
    CK_OBJECT_HANDLE CreatePublicKey()
    {
        const auto modulus = Botan::BigInt::encode(card_->Key({0x3F, 0x00, 0x50, 0x15}, 0x01)->get_n());
        CK_OBJECT_CLASS objectClass = CKO_PUBLIC_KEY;
        CK_KEY_TYPE keyType = CKK_RSA;
        CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        CK_BYTE exponent[] = {0x01, 0x00, 0x01};
        std::string label = "Session key";
        CK_ATTRIBUTE key[] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
                              {CKA_TOKEN, &no, 1}, {CKA_VERIFY, &yes, 1}, {CKA_LABEL, label.data(), label.size()},
                              {CKA_MODULUS, const_cast<uint8_t*>(modulus.data()), modulus.size()},
                              {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}};
        CK_OBJECT_HANDLE handle = 0;
        EXPECT_EQ(CreateObject(hSession_, key, 7, &handle), CKR_OK);
        return handle;
    }

    CK_SESSION_HANDLE hSession_ = 0;
    SessionPtr session_;
};

TEST_F(ObjectCallsTest, SearchHoldsTheCardTransactionUntilTheFirstFind)
{
    Open();
    ASSERT_EQ(FindObjectsInit(hSession_, nullptr, 0), CKR_OK);
    EXPECT_EQ(slot_->OpenTransactionCount(), 1);
    ASSERT_EQ(FindObjectsInit(hSession_, nullptr, 0), CKR_OK) << "a second Init ends the first search";
    EXPECT_EQ(slot_->OpenTransactionCount(), 1);
    CK_OBJECT_HANDLE handle = 0;
    CK_ULONG found = 0;
    ASSERT_EQ(FindObjects(hSession_, &handle, 1, &found), CKR_OK);
    EXPECT_EQ(slot_->OpenTransactionCount(), 0);
    ASSERT_EQ(FindObjects(hSession_, &handle, 1, &found), CKR_OK);
    EXPECT_EQ(slot_->OpenTransactionCount(), 0) << "later calls end nothing";
    EXPECT_EQ(FindObjectsFinal(hSession_), CKR_OK);

    ASSERT_EQ(FindObjectsInit(hSession_, nullptr, 0), CKR_OK);
    EXPECT_EQ(FindObjectsFinal(hSession_), CKR_OK);
    EXPECT_EQ(slot_->OpenTransactionCount(), 0) << "Final without a Find ends it";

    ASSERT_EQ(FindObjectsInit(hSession_, nullptr, 0), CKR_OK);
    EXPECT_EQ(CloseSession(*session_), CKR_OK);
    session_.reset();  // the last call using the closed session returns
    EXPECT_EQ(slot_->OpenTransactionCount(), 0) << "closing the session ends it";

    CK_ATTRIBUTE nullLabel{CKA_LABEL, nullptr, 4};
    ASSERT_EQ(AddSession(slot_->SlotId(), CKF_SERIAL_SESSION, &hSession_), CKR_OK);
    EXPECT_EQ(FindObjectsInit(hSession_, &nullLabel, 1), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(slot_->OpenTransactionCount(), 0);
    EXPECT_EQ(FindObjects(hSession_, &handle, 1, &found), CKR_OPERATION_NOT_INITIALIZED);
}

// Every attribute of every object class, as C_GetAttributeValue answers it
// on the default card: a value ('v'), CKR_ATTRIBUTE_TYPE_INVALID ('t') or
// CKR_ATTRIBUTE_SENSITIVE ('s'), for the signature key, its public key, its
// certificate and a session public key, in that order. Never CKR_OK with an
// unavailable length, and never a length without CKR_OK.
TEST_F(ObjectCallsTest, NoAttributeIsAnsweredOkWithoutAValue)
{
    Open();
    LogIn();
    const CK_OBJECT_HANDLE objects[] = {0x30000, 0x40000, 0x70000, CreatePublicKey()};
    const struct {
        CK_ATTRIBUTE_TYPE type;
        const char* answers;
    } rows[] = {
        {CKA_CLASS, "vvvv"}, {CKA_TOKEN, "vvvv"}, {CKA_PRIVATE, "vvvv"}, {CKA_LABEL, "vvvv"},
        {CKA_MODIFIABLE, "vvvv"}, {CKA_TRUSTED, "vvvv"}, {CKA_ID, "vvvt"}, {CKA_VALUE, "ttvt"},
        {CKA_ISSUER, "ttvt"}, {CKA_SUBJECT, "ttvt"}, {CKA_SERIAL_NUMBER, "ttvt"}, {CKA_CERTIFICATE_TYPE, "ttvt"},
        {CKA_START_DATE, "ttvt"}, {CKA_END_DATE, "ttvt"}, {CKA_CERTIFICATE_CATEGORY, "tttt"},
        {CKA_JAVA_MIDP_SECURITY_DOMAIN, "tttt"}, {CKA_URL, "tttt"}, {CKA_HASH_OF_SUBJECT_PUBLIC_KEY, "tttt"},
        {CKA_HASH_OF_ISSUER_PUBLIC_KEY, "tttt"}, {CKA_CHECK_VALUE, "tttt"}, {CKA_KEY_TYPE, "vvtv"},
        {CKA_MODULUS_BITS, "vvtv"}, {CKA_MODULUS, "vvtv"}, {CKA_PUBLIC_EXPONENT, "vvtv"},
        {CKA_PRIVATE_EXPONENT, "sttt"}, {CKA_PRIME_1, "sttt"}, {CKA_PRIME_2, "sttt"}, {CKA_EXPONENT_1, "sttt"},
        {CKA_EXPONENT_2, "sttt"}, {CKA_COEFFICIENT, "sttt"}, {CKA_KEY_GEN_MECHANISM, "tttt"},
        {CKA_WRAP_WITH_TRUSTED, "tttt"}, {CKA_UNWRAP_TEMPLATE, "tttt"}, {CKA_WRAP_TEMPLATE, "tttt"},
        {Brelt::MW::Token::CKA_KEY_FILE_ID, "vttt"}, {CKA_SECONDARY_AUTH, "vttt"}, {CKA_ALWAYS_AUTHENTICATE, "vttt"},
        {Brelt::MW::Token::CKA_NON_REPUDIATION, "vvtv"}, {CKA_ENCRYPT, "tvtv"}, {CKA_DECRYPT, "vttt"},
        {CKA_SIGN, "vttt"}, {CKA_SIGN_RECOVER, "vttt"}, {CKA_WRAP, "tvtv"}, {CKA_UNWRAP, "vttt"},
        {CKA_VERIFY, "tvtv"}, {CKA_VERIFY_RECOVER, "tvtv"}, {CKA_DERIVE, "vvtv"}, {CKA_SENSITIVE, "vttt"},
        {CKA_EXTRACTABLE, "vttt"}, {CKA_ALWAYS_SENSITIVE, "vttt"}, {CKA_NEVER_EXTRACTABLE, "vttt"},
        {CKA_LOCAL, "vttv"}, {CKA_ALLOWED_MECHANISMS, "vvtv"}, {CKA_APPLICATION, "tttt"}, {CKA_VALUE_LEN, "tttt"},
        {CKA_EC_PARAMS, "tttt"}, {CKA_VENDOR_DEFINED, "tttt"},
    };
    std::vector<CK_ATTRIBUTE> all;
    for (const auto& row : rows) all.push_back({row.type, nullptr, 0});
    for (size_t o = 0; o < std::size(objects); ++o) {
        CK_RV last = CKR_OK;
        for (const auto& row : rows) {
            const CK_RV expected = row.answers[o] == 'v'   ? CKR_OK
                                   : row.answers[o] == 's' ? CKR_ATTRIBUTE_SENSITIVE
                                                           : CKR_ATTRIBUTE_TYPE_INVALID;
            if (expected != CKR_OK) last = expected;
            std::vector<uint8_t> buffer(4096);
            for (void* value : {static_cast<void*>(nullptr), static_cast<void*>(buffer.data())}) {
                CK_ATTRIBUTE query{row.type, value, buffer.size()};
                EXPECT_EQ(GetAttributeValue(hSession_, objects[o], &query, 1), expected)
                    << CkaToString(row.type) << " of " << std::hex << objects[o];
                EXPECT_EQ(query.ulValueLen == CK_UNAVAILABLE_INFORMATION, expected != CKR_OK)
                    << CkaToString(row.type) << " of " << std::hex << objects[o];
            }
        }
        // All at once: the walk goes on past every refused attribute.
        std::vector<CK_ATTRIBUTE> once = all;
        EXPECT_EQ(GetAttributeValue(hSession_, objects[o], once.data(), once.size()), last);
        EXPECT_NE(once[3].ulValueLen, CK_UNAVAILABLE_INFORMATION) << "CKA_LABEL of " << std::hex << objects[o];
    }
}

// Cards whose certificate files are larger than the certificate and filled:
// the same certificates as on the plain cards.
class FilledCertificateFileTest : public ObjectCallsTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(FilledCertificateFileTest, CertificateValueIsTheCertificateWithoutTheFill)
{
    Open(GetParam());
    const std::string plain = std::string(GetParam()).substr(0, 5);
    const auto certificate = cardsim::MakePersonalisation(plain)->FileContents({0x3F, 0x00, 0x50, 0x15, 0x43, 0x01});
    ASSERT_TRUE(certificate);
    ASSERT_EQ(card_->FileContents({0x3F, 0x00, 0x50, 0x15, 0x43, 0x01})->size(), certificate->size() + 300);
    EXPECT_EQ(Value(0x70000, CKA_VALUE), *certificate);
    const Botan::X509_Certificate parsed(*certificate);
    EXPECT_EQ(Value(0x70000, CKA_SUBJECT), parsed.raw_subject_dn());
    EXPECT_EQ(Value(0x70000, CKA_SERIAL_NUMBER), parsed.serial_number());
}

INSTANTIATE_TEST_SUITE_P(Cards, FilledCertificateFileTest,
                         ::testing::Values("DEF50-PADDED", "DEF50-PADDED-FF", "DEF44-PADDED", "DEF44-PADDED-FF"),
                         [](const auto& info) { return TestName(info.param); });

TEST_F(ObjectCallsTest, TokenObjectsAreReadOnlyAndPrivateOnesHidden)
{
    Open();
    EXPECT_EQ(Find({}), (std::vector<CK_OBJECT_HANDLE>{0x40000, 0x40001, 0x70000, 0x70001})) << "keys are private";
    CK_ATTRIBUTE query{CKA_LABEL, nullptr, 0};
    EXPECT_EQ(GetAttributeValue(hSession_, 0x30000, &query, 1), CKR_OBJECT_HANDLE_INVALID) << "private, not logged in";
    LogIn();
    EXPECT_EQ(Find({}).size(), 6u);
    EXPECT_EQ(GetAttributeValue(hSession_, 0x30000, &query, 1), CKR_OK);

    // A read/write session changes and destroys session objects only.
    std::string label = "x";
    CK_ATTRIBUTE rename{CKA_LABEL, label.data(), label.size()};
    for (const CK_OBJECT_HANDLE token : {0x30000, 0x40000, 0x70000}) {
        EXPECT_EQ(SetAttributeValue(hSession_, token, &rename, 1), CKR_ATTRIBUTE_READ_ONLY);
        EXPECT_EQ(DestroyObject(hSession_, token), CKR_OBJECT_HANDLE_INVALID);
    }
    const std::string unchanged = "Signature certificate";
    EXPECT_EQ(Value(0x70000, CKA_LABEL), std::vector<uint8_t>(unchanged.begin(), unchanged.end()));
    EXPECT_EQ(Find({}).size(), 6u);
    // Refused as token objects, not merely missed among the session's objects.
    const std::string log = Log();
    EXPECT_NE(log.find("Only session objects can be modified!"), std::string::npos);
    EXPECT_NE(log.find("Only session object can be destroyed!"), std::string::npos);

    CK_SESSION_HANDLE readOnly = 0;
    ASSERT_EQ(AddSession(slot_->SlotId(), CKF_SERIAL_SESSION, &readOnly), CKR_OK);
    EXPECT_EQ(SetAttributeValue(readOnly, 0x70000, &rename, 1), CKR_SESSION_READ_ONLY);
    EXPECT_EQ(DestroyObject(readOnly, 0x70000), CKR_SESSION_READ_ONLY);
}

TEST_F(ObjectCallsTest, TemplatesWithUnknownTypesAndShortBuffersFillTheRest)
{
    Open();
    CK_OBJECT_CLASS objectClass = 0;
    CK_BYTE tooSmall[4];
    CK_BYTE id[8];
    CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &objectClass, sizeof objectClass},
                           {CKA_MODULUS, nullptr, 0},
                           {CKA_VALUE, tooSmall, sizeof tooSmall},
                           {CKA_ID, id, sizeof id}};
    EXPECT_EQ(GetAttributeValue(hSession_, 0x70000, tmpl, 4), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(objectClass, CKO_CERTIFICATE);
    EXPECT_EQ(tmpl[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(tmpl[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(tmpl[3].ulValueLen, 1u);
    EXPECT_EQ(id[0], 0x01);

    // Size queries of attributes the object kind lacks do not spoil the rest.
    LogIn();
    CK_ATTRIBUTE sizes[] = {{CKA_ENCRYPT, nullptr, 0}, {CKA_SIGN, nullptr, 0}};
    EXPECT_EQ(GetAttributeValue(hSession_, 0x30000, sizes, 2), CKR_ATTRIBUTE_TYPE_INVALID);
    EXPECT_EQ(sizes[0].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(sizes[1].ulValueLen, 1u);
}

TEST_F(ObjectCallsTest, HostileCreationTemplatesAreRefused)
{
    Open();
    CK_OBJECT_CLASS objectClass = CKO_PUBLIC_KEY;
    uint32_t narrowClass = CKO_PUBLIC_KEY;
    CK_OBJECT_CLASS certificate = CKO_CERTIFICATE;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    CK_OBJECT_HANDLE handle = 1;
    CK_ATTRIBUTE nullModulus[] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                  {CKA_VERIFY, &yes, 1}, {CKA_MODULUS, nullptr, 256}};
    EXPECT_EQ(CreateObject(hSession_, nullModulus, 4, &handle), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(handle, 0u);
    CK_ATTRIBUTE narrow[] = {{CKA_CLASS, &narrowClass, sizeof narrowClass}};
    EXPECT_EQ(CreateObject(hSession_, narrow, 1, &handle), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ATTRIBUTE wrongClass[] = {{CKA_CLASS, &certificate, sizeof certificate}};
    EXPECT_EQ(CreateObject(hSession_, wrongClass, 1, &handle), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ATTRIBUTE noModulus[] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_KEY_TYPE, &keyType, sizeof keyType},
                                {CKA_VERIFY, &yes, 1}};
    EXPECT_EQ(CreateObject(hSession_, noModulus, 3, &handle), CKR_TEMPLATE_INCOMPLETE);
    CK_ATTRIBUTE wideBool[] = {{CKA_CLASS, &objectClass, sizeof objectClass}, {CKA_PRIVATE, &objectClass, sizeof objectClass}};
    EXPECT_EQ(CreateObject(hSession_, wideBool, 2, &handle), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ATTRIBUTE privateKey[] = {{CKA_PRIVATE, &yes, 1}, {CKA_CLASS, &objectClass, sizeof objectClass}};
    EXPECT_EQ(CreateObject(hSession_, privateKey, 2, &handle), CKR_USER_NOT_LOGGED_IN);

    const CK_OBJECT_HANDLE key = CreatePublicKey();
    std::string label = "ok";
    CK_ATTRIBUTE secondNull[] = {{CKA_LABEL, label.data(), label.size()}, {CKA_ID, nullptr, 4}};
    EXPECT_EQ(SetAttributeValue(hSession_, key, secondNull, 2), CKR_ATTRIBUTE_VALUE_INVALID);
    std::string tooLong(256, 'L');
    CK_ATTRIBUTE longLabel{CKA_LABEL, tooLong.data(), tooLong.size()};
    EXPECT_EQ(SetAttributeValue(hSession_, key, &longLabel, 1), CKR_ATTRIBUTE_VALUE_INVALID);
}

class ExportsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The token layer loads the card (the module's own card-application layer).
        Brelt::MW::Card::InstallCardApplications(nullptr);
        cardsim::RemoveAllReaders();
        cardsim::AddReader("Reader A");
        cardsim::InsertCard("Reader A", "DEF50");
        ASSERT_EQ(C_Initialize(nullptr), CKR_OK);
        CK_ULONG count = 1;
        ASSERT_EQ(C_GetSlotList(CK_TRUE, &slot_, &count), CKR_OK);
        ASSERT_EQ(count, 1u);
        ASSERT_EQ(C_OpenSession(slot_, CKF_SERIAL_SESSION, nullptr, nullptr, &session_), CKR_OK);
    }

    void TearDown() override
    {
        C_Finalize(nullptr);
        cardsim::RemoveAllReaders();
        Brelt::MW::Card::InstallCardApplications(nullptr);
    }

    int OpenTransactions() const
    {
        const auto slot = Brelt::MW::Card::StatusCache::GetSlotWithoutProbe(slot_);
        return slot ? slot->OpenTransactionCount() : -1;
    }

    CK_SLOT_ID slot_ = 0;
    CK_SESSION_HANDLE session_ = 0;
};

// The search and object checks below the exports have tests of their own;
// these are the ones the exports make themselves.
TEST_F(ExportsTest, HostileArgumentsGetClearCodes)
{
    EXPECT_EQ(C_FindObjectsInit(session_, nullptr, 1), CKR_ARGUMENTS_BAD);
    CK_ATTRIBUTE nullLabel{CKA_LABEL, nullptr, 5};
    EXPECT_EQ(C_FindObjectsInit(session_, &nullLabel, 1), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_EQ(OpenTransactions(), 0);
    CK_ATTRIBUTE query{CKA_LABEL, nullptr, 0};
    EXPECT_EQ(C_GetAttributeValue(session_, 0x70000, &query, 0), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_GetAttributeValue(session_, 0x70000, nullptr, 1), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_GetAttributeValue(session_, 0x100070000ULL, &query, 1), CKR_OBJECT_HANDLE_INVALID);
    CK_OBJECT_HANDLE handle = 0;
    EXPECT_EQ(C_CreateObject(session_, nullptr, 1, &handle), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(C_DestroyObject(session_, 0x70000), CKR_SESSION_READ_ONLY);
    CK_OBJECT_HANDLE handles[2];
    CK_ULONG found = 0;
    EXPECT_EQ(C_FindObjects(session_, handles, 2, &found), CKR_OPERATION_NOT_INITIALIZED);

    // Init then Final without a search, and Init twice: nothing stays open.
    ASSERT_EQ(C_FindObjectsInit(session_, nullptr, 0), CKR_OK);
    ASSERT_EQ(C_FindObjectsInit(session_, nullptr, 0), CKR_OK);
    EXPECT_EQ(OpenTransactions(), 1);
    EXPECT_EQ(C_FindObjectsFinal(session_), CKR_OK);
    EXPECT_EQ(OpenTransactions(), 0);
}

TEST_F(ExportsTest, TemplateValuesLongerThanAnyCardValueAreRefused)
{
    std::vector<CK_BYTE> modulus(256);
    CK_ATTRIBUTE read{CKA_MODULUS, modulus.data(), modulus.size()};
    ASSERT_EQ(C_GetAttributeValue(session_, 0x40000, &read, 1), CKR_OK);
    CK_OBJECT_CLASS publicKey = CKO_PUBLIC_KEY;
    CK_KEY_TYPE rsa = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    CK_BYTE exponent[] = {0x01, 0x00, 0x01};
    CK_BYTE byte = 0;
    // Lengths no caller's buffer has: nothing is allocated or copied for them.
    for (const CK_ULONG length : {CK_ULONG{1} << 40, CK_UNAVAILABLE_INFORMATION, CK_ULONG{0x10000}}) {
        CK_ATTRIBUTE label{CKA_LABEL, &byte, length};
        EXPECT_EQ(C_FindObjectsInit(session_, &label, 1), CKR_ATTRIBUTE_VALUE_INVALID) << length;
        EXPECT_EQ(OpenTransactions(), 0);
        // An attribute the operation does not even look at.
        CK_ATTRIBUTE key[] = {{CKA_CLASS, &publicKey, sizeof publicKey}, {CKA_KEY_TYPE, &rsa, sizeof rsa},
                              {CKA_VERIFY, &yes, 1}, {CKA_MODULUS, modulus.data(), modulus.size()},
                              {CKA_PUBLIC_EXPONENT, exponent, sizeof exponent}, {CKA_SUBJECT, &byte, length}};
        CK_OBJECT_HANDLE handle = 1;
        EXPECT_EQ(C_CreateObject(session_, key, 6, &handle), CKR_ATTRIBUTE_VALUE_INVALID) << length;
        EXPECT_EQ(handle, 0u);
        CK_ATTRIBUTE subject{CKA_SUBJECT, &byte, length};
        EXPECT_EQ(C_SetAttributeValue(session_, 0x70000, &subject, 1), CKR_ATTRIBUTE_VALUE_INVALID) << length;
    }
    // 65,535 bytes is the longest value a template carries.
    std::vector<CK_BYTE> longest(0xFFFF, 'x');
    CK_ATTRIBUTE label{CKA_LABEL, longest.data(), longest.size()};
    ASSERT_EQ(C_FindObjectsInit(session_, &label, 1), CKR_OK);
    CK_OBJECT_HANDLE found[2];
    CK_ULONG count = 9;
    EXPECT_EQ(C_FindObjects(session_, found, 2, &count), CKR_OK);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(C_FindObjectsFinal(session_), CKR_OK);
}

}  // namespace
