#include "token/CardTypes.h"

namespace Brelt::MW::Token {

uint32_t CioFileKindToOdfIndex(CioFileKind kind)
{
    switch (kind) {
    case kKindPin:
    case kKindCvc: return 8;
    case kKindRsaPrivateKey:
    case kKindEcPrivateKey: return 0;
    case kKindRsaPublicKey:
    case kKindEcPublicKey: return 1;
    case kKindCertificate: return 4;
    case kKindDataObject: return 7;
    default: return 9;
    }
}

const char* CardOSName(uint32_t os)
{
    switch (os) {
    case UnknownCardOS: return "UnknownCardOS";
    case CardOSv43: return "CardOSv4.3";
    case CardOSv44: return "CardOSv4.4";
    case CardOSv50: return "CardOSv5.0";
    default: return "Not recognized..";
    }
}

const char* CardProfileName(uint32_t profile)
{
    switch (profile) {
    case UnknownProfile: return "UnknownProfile";
    case DefaultProfile: return "DefaultProfile";
    case SigZepEpProfile: return "SigZepEpProfile";
    case SigGProfile: return "SigGProfile";
    case QesEacProfile: return "QesEacProfile";
    default: return "Not recognized..";
    }
}

}  // namespace Brelt::MW::Token
