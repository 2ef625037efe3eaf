// Feeds arbitrary bytes to the parsers of EF.DIR, CIAInfo, the ODF, the
// object directory files (through CreateCIOObject) and public keys. Objects
// that were made are encoded back; a changed object's encoding must parse
// again as an entry of its kind.
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "token/ApplicationInfo.h"
#include "token/CiaParsers.h"

using namespace Brelt::MW::Token;
using Brelt::MW::Base::HexBinary;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > 0xFFFF) return 0;
    const uint8_t mode = data[0];
    const HexBinary input(data + 1, static_cast<int32_t>(size - 1), true);
    switch (mode % 5) {
    case 0: {
        EfDirRecords records;
        ParseEFDir(&input, records);
        return 0;
    }
    case 1: {
        CIAInfo info;
        ParseCIAInfo(&input, info);
        return 0;
    }
    case 2: {
        OdfRecords records;
        ParseOD(&input, records);
        return 0;
    }
    case 3: {
        Bytes modulus;
        Bytes exponent;
        ParsePublicKey(input.data, static_cast<uint16_t>(input.length), modulus, exponent);
        return 0;
    }
    default:
        break;
    }

    const CioFileKind kind = static_cast<CioFileKind>(((mode >> 3) % 8) + 1);
    const uint32_t profile = (mode & 0x80) != 0 ? QesEacProfile : DefaultProfile;
    ApplicationInfo application;
    auto list = std::make_unique<CIOObjectList>(kind);
    if (ParseCIOFile(&input, *list, profile) != CKR_OK) {
        if (!list->objects.empty()) abort();  // nothing of a refused file is kept
        return 0;
    }
    for (const auto& object : list->objects) {
        // Touch a field so that the object is encoded from its fields.
        object->GetCommonObjectRecord()->label = std::make_unique<HexBinary>(std::string("46"));
        HexBinary encoding;
        if (object->GetASN(encoding) != CKR_OK) continue;
        CIOObjectList again(kind);
        if (ParseCIOFile(&encoding, again, profile) != CKR_OK || again.objects.size() != 1) abort();
    }
    application.ObjectLists.push_back(std::move(list));
    Bytes file;
    GetEFData(application, kind, file);
    return 0;
}
