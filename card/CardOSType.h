#pragma once
// The CardOS versions the module knows.

#include <cstdint>

enum CardOStype : uint32_t {
    UnknownCardOS = 0,
    CardOSv4_3 = 1,  // CardOS 4.3B
    CardOSv4_4 = 2,
    CardOSv5_0 = 3,
};
