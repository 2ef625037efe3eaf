#pragma once
// Records parsed from the files that describe a card application: EF.DIR
// application templates, ODF entries and the CIAInfo file. Byte values hold
// content octets; absent values are null.

#include <cstdint>
#include <memory>
#include <vector>

#include "BaseTypes.h"
#include "token/ObjectAttributes.h"

namespace Brelt::MW::Token {

// One application template of EF.DIR.
struct EfDirRecord {
    Bytes aid;     // 4F
    Bytes label;   // 50
    Bytes path;    // 51
    Bytes ddoAid;  // 4F inside 73
};

// One ODF entry: the choice index (0-8, 9 for any other tag) and the path of
// the directory file.
struct OdfRecord {
    uint32_t index = 9;
    Bytes path;
};

struct SeInfo {
    uint32_t se = 0;
    Bytes owner;  // OID content
    Bytes aid;
};

struct AlgorithmInfo {
    uint32_t reference = 0;
    Bytes algorithm;            // INTEGER content
    Bytes parameters;           // null when NULL
    Bytes supportedOperations;  // BIT STRING content
    Bytes algId;                // OID content
    uint32_t algRef = 0;
};

struct CIAInfo {
    uint32_t version = 0;
    Bytes serialNumber;
    Bytes manufacturerID;
    Bytes label;       // 80
    Bytes tokenflags;  // BIT STRING content
    std::vector<SeInfo> seInfo;
    std::vector<AlgorithmInfo> algorithms;
};

using EfDirRecords = std::vector<EfDirRecord>;
using OdfRecords = std::vector<OdfRecord>;

}  // namespace Brelt::MW::Token
