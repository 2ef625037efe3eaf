// Fixed-layout dumps of APDUs, byte buffers and attribute templates. Each
// dump holds the log lock for all its records, so the records of one dump
// stay together even when other threads log at the same time.

#include "LogNames.h"

#include "Logger.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr uint16_t kMaxDumpLength = 0xFFFF;

bool IsBooleanAttribute(CK_ATTRIBUTE_TYPE type)
{
    switch (type) {
    case CKA_TOKEN: case CKA_PRIVATE: case CKA_TRUSTED: case CKA_SENSITIVE:
    case CKA_ENCRYPT: case CKA_DECRYPT: case CKA_WRAP: case CKA_UNWRAP:
    case CKA_SIGN: case CKA_SIGN_RECOVER: case CKA_VERIFY: case CKA_VERIFY_RECOVER:
    case CKA_DERIVE: case CKA_EXTRACTABLE: case CKA_LOCAL: case CKA_NEVER_EXTRACTABLE:
    case CKA_ALWAYS_SENSITIVE: case CKA_MODIFIABLE: case CKA_SECONDARY_AUTH:
        return true;
    default:
        return false;
    }
}

// Attributes read as one CK_ULONG and written by name.
const char* NamedUlongValue(CK_ATTRIBUTE_TYPE type, CK_ULONG value)
{
    switch (type) {
    case CKA_CLASS: return CkoToString(value);
    case CKA_CERTIFICATE_TYPE: return CkcToString(value);
    case CKA_KEY_TYPE: return CkkToString(value);
    default: return nullptr;
    }
}

bool IsNamedUlongAttribute(CK_ATTRIBUTE_TYPE type)
{
    return type == CKA_CLASS || type == CKA_CERTIFICATE_TYPE || type == CKA_KEY_TYPE;
}

// Finds the object class the template itself states, if any.
CK_OBJECT_CLASS ClassFromTemplate(const CK_ATTRIBUTE* attributes, CK_ULONG count)
{
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& attribute = attributes[i];
        if (attribute.type == CKA_CLASS && attribute.pValue != nullptr &&
            attribute.ulValueLen == sizeof(CK_ULONG)) {
            CK_OBJECT_CLASS objectClass;
            std::memcpy(&objectClass, attribute.pValue, sizeof objectClass);
            return objectClass;
        }
    }
    return CK_UNAVAILABLE_INFORMATION;
}

// Values that must never reach the log: private-key parts, and CKA_VALUE of
// everything except certificates (secret keys, private values, data objects).
bool IsSecretAttribute(CK_ATTRIBUTE_TYPE type, CK_OBJECT_CLASS objectClass)
{
    switch (type) {
    case CKA_VALUE:
        return objectClass != CKO_CERTIFICATE;
    case CKA_PRIVATE_EXPONENT: case CKA_PRIME_1: case CKA_PRIME_2:
    case CKA_EXPONENT_1: case CKA_EXPONENT_2: case CKA_COEFFICIENT:
        return true;
    default:
        return false;
    }
}

void LogRequestEntry(int level, const CK_ATTRIBUTE& attribute)
{
    if (attribute.pValue == nullptr) {
        LogMessage(level, false, nullptr, 0, false, "[----h] SIZE REQUEST\n");
    } else if (attribute.ulValueLen == 0) {
        LogMessage(level, false, nullptr, 0, false, "[0000h] EMPTY\n");
    } else if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        LogMessage(level, false, nullptr, 0, false, "[----h] INVALID ATTRIBUTE\n");
    } else {
        LogMessage(level, false, nullptr, 0, false, "[%04lXh] ", attribute.ulValueLen);
        LogMessage(level, false, nullptr, 0, false, "DATA REQUEST\n");
    }
}

void LogValueEntry(int level, const CK_ATTRIBUTE& attribute, CK_OBJECT_CLASS objectClass)
{
    const CK_ULONG length = attribute.ulValueLen;
    if (length == CK_UNAVAILABLE_INFORMATION) {
        LogMessage(level, false, nullptr, 0, false, "[----h] INVALID ATTRIBUTE\n");
        return;
    }
    if (length == 0) {
        LogMessage(level, false, nullptr, 0, false, "[0000h] EMPTY\n");
        return;
    }
    if (attribute.pValue == nullptr) {
        LogMessage(level, false, nullptr, 0, false, "[%04lXh]", length);
        LogMessage(level, false, nullptr, 0, false, " NULL PTR\n");
        return;
    }

    LogMessage(level, false, nullptr, 0, false, "[%04lXh] ", length);
    const auto* bytes = static_cast<const unsigned char*>(attribute.pValue);
    if (IsSecretAttribute(attribute.type, objectClass)) {
        LogMessage(level, false, nullptr, 0, false, "VALUE NOT LOGGED\n");
    } else if (IsNamedUlongAttribute(attribute.type) && length == sizeof(CK_ULONG)) {
        CK_ULONG value;
        std::memcpy(&value, bytes, sizeof value);
        LogMessage(level, false, nullptr, 0, false, "%s\n", NamedUlongValue(attribute.type, value));
    } else if (attribute.type == CKA_MODULUS_BITS) {
        // Little-endian, as many bytes as given up to a CK_ULONG.
        CK_ULONG bits = 0;
        const CK_ULONG used = std::min<CK_ULONG>(length, sizeof(CK_ULONG));
        for (CK_ULONG i = used; i > 0; --i) bits = (bits << 8) | bytes[i - 1];
        LogMessage(level, false, nullptr, 0, false, "%lu\n", bits);
    } else if (IsBooleanAttribute(attribute.type)) {
        LogMessage(level, false, nullptr, 0, false, "%s\n", bytes[0] != 0 ? "CK_TRUE" : "CK_FALSE");
    } else {
        LogMessage(level, false, nullptr, 0, false, "\n");
        LogHexDump(level, bytes, static_cast<uint16_t>(std::min<CK_ULONG>(length, kMaxDumpLength)));
    }
}

}  // namespace

void LogApdu(int level, const unsigned char* bytes, uint16_t length, bool isCommand)
{
    if (!IsLogLevelEnabled(level) || bytes == nullptr || length == 0) return;
    auto lock = AcquireLogLock();
    LogMessage(level, true, nullptr, 0, true, "%s", isCommand ? "Command data = " : "Response data = ");
    // 16 bytes per line in two groups of eight.
    std::string line;
    for (uint16_t i = 0; i < length; ++i) {
        if (i % 8 == 0 && i != 0) {
            if (i % 16 == 0) {
                LogMessage(level, true, nullptr, 0, true, "   %s", line.c_str());
                line.clear();
            } else {
                line += "  ";
            }
        }
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", bytes[i]);
        line += hex;
    }
    LogMessage(level, true, nullptr, 0, true, "   %s\n", line.c_str());
}

void LogHexDump(int level, const void* bytes, uint16_t length)
{
    if (!IsLogLevelEnabled(level) || bytes == nullptr || length == 0) return;
    auto lock = AcquireLogLock();
    const auto* data = static_cast<const unsigned char*>(bytes);
    char* line = LogTextBuffer();
    size_t used = 0;
    char text[17] = {};
    unsigned column = 0;
    auto append = [&](const char* format, unsigned value) {
        used += static_cast<size_t>(std::snprintf(line + used, kLogTextBufferSize - used, format, value));
    };
    for (unsigned offset = 0; offset < length; ++offset) {
        column = offset % 16;
        if (column == 0) {
            used = 0;
            append("%04X:  ", offset);
        }
        if (column == 8) {
            std::memcpy(line + used, "  ", 2);
            used += 2;
        }
        append("%02X ", data[offset]);
        text[column] = (data[offset] >= 32 && data[offset] <= 126) ? static_cast<char>(data[offset]) : '.';
        if (column == 15) {
            text[16] = '\0';
            std::snprintf(line + used, kLogTextBufferSize - used, "   %s", text);
            LogMessage(level, true, nullptr, 0, true, "\t\t\t%s", line);
        }
    }
    if (column < 15) {
        // Pad the missing byte columns so the text column lines up with the
        // text column of full lines.
        size_t padding = (16 - column) * 3 + (column < 8 ? 2 : 0);
        std::memset(line + used, ' ', padding);
        used += padding;
        text[column + 1] = '\0';
        std::snprintf(line + used, kLogTextBufferSize - used, "%s", text);
        LogMessage(level, true, nullptr, 0, true, "\t\t\t%s", line);
    }
}

void LogAttributeTemplate(int level, const CK_ATTRIBUTE* attributes, CK_ULONG count, bool isRequest,
                          CK_OBJECT_CLASS objectClass)
{
    if (!IsLogLevelEnabled(level) || attributes == nullptr) return;
    auto lock = AcquireLogLock();
    if (objectClass == CK_UNAVAILABLE_INFORMATION) objectClass = ClassFromTemplate(attributes, count);
    for (CK_ULONG i = 0; i < count; ++i) {
        const CK_ATTRIBUTE& attribute = attributes[i];
        LogMessage(level, true, nullptr, 0, false, "\t\t%s: ", CkaToString(attribute.type));
        if (isRequest) {
            LogRequestEntry(level, attribute);
        } else {
            LogValueEntry(level, attribute, objectClass);
        }
    }
}
