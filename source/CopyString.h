#pragma once

#include <string>

namespace Brelt::Crypto {

inline std::string CopyString(const std::string& text)
{
    return text;
}

}  // namespace Brelt::Crypto
