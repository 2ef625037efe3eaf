#include "Dialogs/ui/CallerText.h"

#include "BaseTypes.h"

#include <cstring>

std::optional<QString> DecodeCallerText(const Brelt::MW::Base::HexBinary* text)
{
    if (text == nullptr || text->data == nullptr || text->length <= 0)
        return std::nullopt;
    const char* bytes = reinterpret_cast<const char*>(text->data) + 1;
    const size_t available = static_cast<size_t>(text->length) - 1;
    const void* zero = std::memchr(bytes, 0, available);
    const size_t length = zero ? static_cast<size_t>(static_cast<const char*>(zero) - bytes) : available;
    return QString::fromUtf8(bytes, static_cast<qsizetype>(length));
}
