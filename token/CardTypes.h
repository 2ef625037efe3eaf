#pragma once
// Kinds of directory files and objects, card operating systems and card
// profiles, as the token layer numbers them.

#include <cstdint>

namespace Brelt::MW::Token {

// Kind of an object directory file and of the objects read from it; also the
// upper 16 bits of a token object's handle.
using CioFileKind = uint32_t;
inline constexpr CioFileKind kKindPin = 1;
inline constexpr CioFileKind kKindCvc = 2;
inline constexpr CioFileKind kKindRsaPrivateKey = 3;
inline constexpr CioFileKind kKindRsaPublicKey = 4;
inline constexpr CioFileKind kKindEcPrivateKey = 5;
inline constexpr CioFileKind kKindEcPublicKey = 6;
inline constexpr CioFileKind kKindCertificate = 7;
inline constexpr CioFileKind kKindDataObject = 8;
inline constexpr CioFileKind kFirstKind = 1;
inline constexpr CioFileKind kLastKind = 8;

// ODF choice index of the directory file holding objects of a kind; 9 for a
// value that is no kind.
uint32_t CioFileKindToOdfIndex(CioFileKind kind);

// Type word of an object: chooses its attribute sets and attribute getters.
// Note the order differs from the kinds (EC private key 4, RSA public key 5).
using CIOObjectType = uint32_t;
inline constexpr CIOObjectType kTypePin = 1;
inline constexpr CIOObjectType kTypeCvc = 2;
inline constexpr CIOObjectType kTypeRsaPrivateKey = 3;
inline constexpr CIOObjectType kTypeEcPrivateKey = 4;
inline constexpr CIOObjectType kTypeRsaPublicKey = 5;
inline constexpr CIOObjectType kTypeEcPublicKey = 6;
inline constexpr CIOObjectType kTypeCertificate = 7;
inline constexpr CIOObjectType kTypeCertificate2 = 8;
inline constexpr CIOObjectType kTypeDataObject = 9;
inline constexpr CIOObjectType kTypeDataObject2 = 10;

enum CardOStype : uint32_t {
    UnknownCardOS = 0,
    CardOSv43 = 1,
    CardOSv44 = 2,
    CardOSv50 = 3,
};

enum CardProfile : uint32_t {
    UnknownProfile = 0,
    DefaultProfile = 1,
    SigZepEpProfile = 2,
    SigGProfile = 3,
    QesEacProfile = 4,
};

const char* CardOSName(uint32_t os);
const char* CardProfileName(uint32_t profile);

}  // namespace Brelt::MW::Token
