#include "LogNames.h"
#include "LogTestSupport.h"
#include "Logger.h"

#include <memory>

using LogNamesTest = LogTest;

TEST_F(LogNamesTest, NamesAndFallbacks)
{
    StartPlainLog(1);
    EXPECT_STREQ(CkrToString(0x80000000UL), "CKR_VENDOR_DEFINED");
    EXPECT_STREQ(CkrToString(4), "[00000004h] Unknown CKR result");
    EXPECT_STREQ(CkaToString(CKA_CLASS), "CKA_CLASS               ");
    EXPECT_STREQ(CkaToString(0x10), "[00000010h] UNKNOWN ATTRIBUTE");
    EXPECT_STREQ(CkaToString(CKA_PRIVATE_EXPONENT), "[00000123h] UNKNOWN ATTRIBUTE");
    EXPECT_STREQ(CkkToString(6), "[6] UNKNOWN KEY TYPE");
    EXPECT_STREQ(CkoToString(4), "CKO_SECRET_KEY [not supported]");
    EXPECT_STREQ(CkoToString(9), "[00000009h] UNKNOWN OBJECT CLASS");
    EXPECT_STREQ(CkcToString(3), "[3] UNKNOWN CERTIFICATE TYPE");
    EXPECT_STREQ(CkuToString(7), "[7] UNKNOWN USER TYPE");
    EXPECT_STREQ(CkmToString(CKM_EC_KEY_PAIR_GEN), "CKM_ECDSA_KEY_PAIR_GEN/CKM_EC_KEY_PAIR_GEN");
    EXPECT_STREQ(CkmToString(0x1041), "[00001041h] UNKNOWN MECHANISM TYPE");
    CloseLogger();
    // With logging off the mechanism and user names cost nothing; the others still name.
    EXPECT_EQ(CkmToString(0x1041), nullptr);
    EXPECT_EQ(CkmToString(CKM_RSA_PKCS), nullptr);
    EXPECT_EQ(CkuToString(CKU_USER), nullptr);
    EXPECT_STREQ(CkrToString(CKR_OK), "CKR_OK");
}

TEST_F(LogNamesTest, FormatUlongList)
{
    const CK_ULONG three[] = {1, 2, 3};
    EXPECT_STREQ(FormatUlongList(three, 3), "[1, 2, 3]");
    EXPECT_STREQ(FormatUlongList(nullptr, 3), "[]");
    EXPECT_STREQ(FormatUlongList(three, 0), "[]");
    const std::vector<CK_ULONG> many(500, CK_UNAVAILABLE_INFORMATION);
    const std::string text = FormatUlongList(many.data(), many.size());
    EXPECT_LT(text.size(), kLogTextBufferSize);
    EXPECT_EQ(text.rfind("[-1, -1, ", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 6), ", ...]");
}

TEST_F(LogNamesTest, ApduLayout)
{
    StartPlainLog(4);
    unsigned char apdu[20];
    for (int i = 0; i < 20; ++i) apdu[i] = static_cast<unsigned char>(i);
    LogApdu(4, apdu, 20, true);
    LogApdu(4, apdu, 0, false);
    LogApdu(5, apdu, 20, false);
    LogApdu(4, apdu, 2, false);
    EXPECT_EQ(WithoutTimes(BodyAfterClose()),
              "Command data = \n"
              "   00 01 02 03 04 05 06 07   08 09 0A 0B 0C 0D 0E 0F \n"
              "   10 11 12 13 \n\n"
              "Response data = \n"
              "   00 01 \n\n");
}

TEST_F(LogNamesTest, HexDumpLayout)
{
    StartPlainLog(3);
    const char text[] = "0123456789ABCDEF\x01";
    LogHexDump(3, text, 17);
    LogHexDump(3, text, 0);
    LogHexDump(3, nullptr, 4);
    LogHexDump(3, text, 9);
    EXPECT_EQ(WithoutTimes(BodyAfterClose()),
              "\t\t\t0000:  30 31 32 33 34 35 36 37   38 39 41 42 43 44 45 46    0123456789ABCDEF\n"
              "\t\t\t0010:  01                                                   .\n"
              "\t\t\t0000:  30 31 32 33 34 35 36 37   38                         012345678\n");
}

TEST_F(LogNamesTest, RequestTemplateLayout)
{
    StartPlainLog(3);
    unsigned char buffer[4];
    CK_ATTRIBUTE request[] = {
        {CKA_LABEL, nullptr, 0},
        {CKA_ID, buffer, 0},
        {CKA_VALUE, buffer, CK_UNAVAILABLE_INFORMATION},
        {CKA_MODULUS, buffer, sizeof buffer},
    };
    LogAttributeTemplate(3, request, 4, true);
    LogAttributeTemplate(3, nullptr, 4, true);
    EXPECT_EQ(WithoutTimes(BodyAfterClose()),
              "\t\tCKA_LABEL               : [----h] SIZE REQUEST\n"
              "\t\tCKA_ID                  : [0000h] EMPTY\n"
              "\t\tCKA_VALUE               : [----h] INVALID ATTRIBUTE\n"
              "\t\tCKA_MODULUS             : [0004h] DATA REQUEST\n");
}

TEST_F(LogNamesTest, ValueTemplateLayoutNeverReadsPastTheValues)
{
    StartPlainLog(3);
    // Heap values of exactly the given length, so any over-read is caught.
    auto bytes = [](std::initializer_list<unsigned char> values) {
        auto* copy = new unsigned char[values.size()];
        std::copy(values.begin(), values.end(), copy);
        return std::unique_ptr<unsigned char[]>(copy);
    };
    auto classValue = std::make_unique<CK_ULONG>(CKO_PRIVATE_KEY);
    auto oneByteClass = bytes({3});
    auto flag = bytes({1});
    auto bits = bytes({0x00, 0x08});
    auto exponent = bytes({0xAA, 0xBB});
    auto small = bytes({0x41});
    CK_ATTRIBUTE values[] = {
        {CKA_CLASS, classValue.get(), sizeof(CK_ULONG)},
        {CKA_KEY_TYPE, oneByteClass.get(), 1},
        {CKA_SIGN, flag.get(), 1},
        {CKA_MODULUS_BITS, bits.get(), 2},
        {CKA_PRIVATE_EXPONENT, exponent.get(), 2},
        {CKA_VALUE, small.get(), 1},
        {CKA_LABEL, small.get(), CK_UNAVAILABLE_INFORMATION},
        {CKA_ID, nullptr, 5},
        {CKA_SUBJECT, small.get(), 0},
        {CKA_ALWAYS_AUTHENTICATE, flag.get(), 1},
    };
    LogAttributeTemplate(3, values, std::size(values), false);
    EXPECT_EQ(WithoutTimes(BodyAfterClose()),
              "\t\tCKA_CLASS               : [0008h] CKO_PRIVATE_KEY\n"
              "\t\tCKA_KEY_TYPE            : [0001h] \n"
              "\t\t\t0000:  03                                                   .\n"
              "\t\tCKA_SIGN                : [0001h] CK_TRUE\n"
              "\t\tCKA_MODULUS_BITS        : [0002h] 2048\n"
              "\t\t[00000123h] UNKNOWN ATTRIBUTE: [0002h] VALUE NOT LOGGED\n"
              "\t\tCKA_VALUE               : [0001h] VALUE NOT LOGGED\n"
              "\t\tCKA_LABEL               : [----h] INVALID ATTRIBUTE\n"
              "\t\tCKA_ID                  : [0005h] NULL PTR\n"
              "\t\tCKA_SUBJECT             : [0000h] EMPTY\n"
              "\t\tCKA_ALWAYS_AUTHENTICATE : [0001h] \n"
              "\t\t\t0000:  01                                                   .\n");
}

