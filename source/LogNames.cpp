#include "LogNames.h"

#include "Logger.h"

#include <cstdio>
#include <cstring>

namespace {

const char* Fallback(const char* format, unsigned long value)
{
    char* buffer = LogTextBuffer();
    std::snprintf(buffer, kLogTextBufferSize, format, value);
    return buffer;
}

const char* SignedFallback(const char* format, unsigned long value)
{
    char* buffer = LogTextBuffer();
    std::snprintf(buffer, kLogTextBufferSize, format, static_cast<long>(value));
    return buffer;
}

bool LoggingOff()
{
    return !IsLogLevelEnabled(LOG_LEVEL_ERROR);
}

const char* KnownCkrName(CK_RV value)
{
    switch (value) {
    case CKR_OK: return "CKR_OK";
    case CKR_VENDOR_DEFINED: return "CKR_VENDOR_DEFINED";
    case CKR_USER_ALREADY_LOGGED_IN: return "CKR_USER_ALREADY_LOGGED_IN";
    case CKR_CANCEL: return "CKR_CANCEL";
    case CKR_HOST_MEMORY: return "CKR_HOST_MEMORY";
    case CKR_SLOT_ID_INVALID: return "CKR_SLOT_ID_INVALID";
    case CKR_GENERAL_ERROR: return "CKR_GENERAL_ERROR";
    case CKR_FUNCTION_FAILED: return "CKR_FUNCTION_FAILED";
    case CKR_ARGUMENTS_BAD: return "CKR_ARGUMENTS_BAD";
    case CKR_NO_EVENT: return "CKR_NO_EVENT";
    case CKR_NEED_TO_CREATE_THREADS: return "CKR_NEED_TO_CREATE_THREADS";
    case CKR_CANT_LOCK: return "CKR_CANT_LOCK";
    case CKR_ATTRIBUTE_READ_ONLY: return "CKR_ATTRIBUTE_READ_ONLY";
    case CKR_ATTRIBUTE_SENSITIVE: return "CKR_ATTRIBUTE_SENSITIVE";
    case CKR_ATTRIBUTE_TYPE_INVALID: return "CKR_ATTRIBUTE_TYPE_INVALID";
    case CKR_ATTRIBUTE_VALUE_INVALID: return "CKR_ATTRIBUTE_VALUE_INVALID";
    case CKR_DATA_INVALID: return "CKR_DATA_INVALID";
    case CKR_DATA_LEN_RANGE: return "CKR_DATA_LEN_RANGE";
    case CKR_DEVICE_ERROR: return "CKR_DEVICE_ERROR";
    case CKR_DEVICE_MEMORY: return "CKR_DEVICE_MEMORY";
    case CKR_DEVICE_REMOVED: return "CKR_DEVICE_REMOVED";
    case CKR_ENCRYPTED_DATA_INVALID: return "CKR_ENCRYPTED_DATA_INVALID";
    case CKR_ENCRYPTED_DATA_LEN_RANGE: return "CKR_ENCRYPTED_DATA_LEN_RANGE";
    case CKR_FUNCTION_CANCELED: return "CKR_FUNCTION_CANCELED";
    case CKR_FUNCTION_NOT_PARALLEL: return "CKR_FUNCTION_NOT_PARALLEL";
    case CKR_FUNCTION_NOT_SUPPORTED: return "CKR_FUNCTION_NOT_SUPPORTED";
    case CKR_KEY_HANDLE_INVALID: return "CKR_KEY_HANDLE_INVALID";
    case CKR_KEY_SIZE_RANGE: return "CKR_KEY_SIZE_RANGE";
    case CKR_KEY_TYPE_INCONSISTENT: return "CKR_KEY_TYPE_INCONSISTENT";
    case CKR_KEY_NOT_NEEDED: return "CKR_KEY_NOT_NEEDED";
    case CKR_KEY_CHANGED: return "CKR_KEY_CHANGED";
    case CKR_KEY_NEEDED: return "CKR_KEY_NEEDED";
    case CKR_KEY_INDIGESTIBLE: return "CKR_KEY_INDIGESTIBLE";
    case CKR_KEY_FUNCTION_NOT_PERMITTED: return "CKR_KEY_FUNCTION_NOT_PERMITTED";
    case CKR_KEY_NOT_WRAPPABLE: return "CKR_KEY_NOT_WRAPPABLE";
    case CKR_KEY_UNEXTRACTABLE: return "CKR_KEY_UNEXTRACTABLE";
    case CKR_MECHANISM_INVALID: return "CKR_MECHANISM_INVALID";
    case CKR_MECHANISM_PARAM_INVALID: return "CKR_MECHANISM_PARAM_INVALID";
    case CKR_OBJECT_HANDLE_INVALID: return "CKR_OBJECT_HANDLE_INVALID";
    case CKR_OPERATION_ACTIVE: return "CKR_OPERATION_ACTIVE";
    case CKR_OPERATION_NOT_INITIALIZED: return "CKR_OPERATION_NOT_INITIALIZED";
    case CKR_PIN_INCORRECT: return "CKR_PIN_INCORRECT";
    case CKR_PIN_INVALID: return "CKR_PIN_INVALID";
    case CKR_PIN_LEN_RANGE: return "CKR_PIN_LEN_RANGE";
    case CKR_PIN_EXPIRED: return "CKR_PIN_EXPIRED";
    case CKR_PIN_LOCKED: return "CKR_PIN_LOCKED";
    case CKR_SESSION_CLOSED: return "CKR_SESSION_CLOSED";
    case CKR_SESSION_COUNT: return "CKR_SESSION_COUNT";
    case CKR_SESSION_HANDLE_INVALID: return "CKR_SESSION_HANDLE_INVALID";
    case CKR_SESSION_PARALLEL_NOT_SUPPORTED: return "CKR_SESSION_PARALLEL_NOT_SUPPORTED";
    case CKR_SESSION_READ_ONLY: return "CKR_SESSION_READ_ONLY";
    case CKR_SESSION_EXISTS: return "CKR_SESSION_EXISTS";
    case CKR_SESSION_READ_ONLY_EXISTS: return "CKR_SESSION_READ_ONLY_EXISTS";
    case CKR_SESSION_READ_WRITE_SO_EXISTS: return "CKR_SESSION_READ_WRITE_SO_EXISTS";
    case CKR_SIGNATURE_INVALID: return "CKR_SIGNATURE_INVALID";
    case CKR_SIGNATURE_LEN_RANGE: return "CKR_SIGNATURE_LEN_RANGE";
    case CKR_TEMPLATE_INCOMPLETE: return "CKR_TEMPLATE_INCOMPLETE";
    case CKR_TEMPLATE_INCONSISTENT: return "CKR_TEMPLATE_INCONSISTENT";
    case CKR_TOKEN_NOT_PRESENT: return "CKR_TOKEN_NOT_PRESENT";
    case CKR_TOKEN_NOT_RECOGNIZED: return "CKR_TOKEN_NOT_RECOGNIZED";
    case CKR_TOKEN_WRITE_PROTECTED: return "CKR_TOKEN_WRITE_PROTECTED";
    case CKR_UNWRAPPING_KEY_HANDLE_INVALID: return "CKR_UNWRAPPING_KEY_HANDLE_INVALID";
    case CKR_UNWRAPPING_KEY_SIZE_RANGE: return "CKR_UNWRAPPING_KEY_SIZE_RANGE";
    case CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT: return "CKR_UNWRAPPING_KEY_TYPE_INCONSISTENT";
    case CKR_FUNCTION_REJECTED: return "CKR_FUNCTION_REJECTED";
    case CKR_USER_NOT_LOGGED_IN: return "CKR_USER_NOT_LOGGED_IN";
    case CKR_USER_PIN_NOT_INITIALIZED: return "CKR_USER_PIN_NOT_INITIALIZED";
    case CKR_USER_TYPE_INVALID: return "CKR_USER_TYPE_INVALID";
    case CKR_USER_ANOTHER_ALREADY_LOGGED_IN: return "CKR_USER_ANOTHER_ALREADY_LOGGED_IN";
    case CKR_USER_TOO_MANY_TYPES: return "CKR_USER_TOO_MANY_TYPES";
    case CKR_WRAPPED_KEY_INVALID: return "CKR_WRAPPED_KEY_INVALID";
    case CKR_WRAPPED_KEY_LEN_RANGE: return "CKR_WRAPPED_KEY_LEN_RANGE";
    case CKR_WRAPPING_KEY_HANDLE_INVALID: return "CKR_WRAPPING_KEY_HANDLE_INVALID";
    case CKR_WRAPPING_KEY_SIZE_RANGE: return "CKR_WRAPPING_KEY_SIZE_RANGE";
    case CKR_WRAPPING_KEY_TYPE_INCONSISTENT: return "CKR_WRAPPING_KEY_TYPE_INCONSISTENT";
    case CKR_RANDOM_SEED_NOT_SUPPORTED: return "CKR_RANDOM_SEED_NOT_SUPPORTED";
    case CKR_RANDOM_NO_RNG: return "CKR_RANDOM_NO_RNG";
    case CKR_DOMAIN_PARAMS_INVALID: return "CKR_DOMAIN_PARAMS_INVALID";
    case CKR_BUFFER_TOO_SMALL: return "CKR_BUFFER_TOO_SMALL";
    case CKR_SAVED_STATE_INVALID: return "CKR_SAVED_STATE_INVALID";
    case CKR_INFORMATION_SENSITIVE: return "CKR_INFORMATION_SENSITIVE";
    case CKR_STATE_UNSAVEABLE: return "CKR_STATE_UNSAVEABLE";
    case CKR_CRYPTOKI_NOT_INITIALIZED: return "CKR_CRYPTOKI_NOT_INITIALIZED";
    case CKR_CRYPTOKI_ALREADY_INITIALIZED: return "CKR_CRYPTOKI_ALREADY_INITIALIZED";
    case CKR_MUTEX_BAD: return "CKR_MUTEX_BAD";
    case CKR_MUTEX_NOT_LOCKED: return "CKR_MUTEX_NOT_LOCKED";
    case CKR_NEW_PIN_MODE: return "CKR_NEW_PIN_MODE";
    case CKR_NEXT_OTP: return "CKR_NEXT_OTP";
    default: return nullptr;
    }
}

// Padded to 24 characters so that template dumps line up.
const char* KnownCkaName(CK_ATTRIBUTE_TYPE value)
{
    switch (value) {
    case CKA_CLASS: return "CKA_CLASS               ";
    case CKA_TOKEN: return "CKA_TOKEN               ";
    case CKA_PRIVATE: return "CKA_PRIVATE             ";
    case CKA_LABEL: return "CKA_LABEL               ";
    case CKA_VALUE: return "CKA_VALUE               ";
    case CKA_OBJECT_ID: return "CKA_OBJECT_ID           ";
    case CKA_CERTIFICATE_TYPE: return "CKA_CERTIFICATE_TYPE    ";
    case CKA_ISSUER: return "CKA_ISSUER              ";
    case CKA_SERIAL_NUMBER: return "CKA_SERIAL_NUMBER       ";
    case CKA_AC_ISSUER: return "CKA_AC_ISSUER           ";
    case CKA_OWNER: return "CKA_OWNER               ";
    case CKA_ATTR_TYPES: return "CKA_ATTR_TYPES          ";
    case CKA_TRUSTED: return "CKA_TRUSTED             ";
    case CKA_CERTIFICATE_CATEGORY: return "CKA_CERTIFICATE_CATEGORY";
    case CKA_JAVA_MIDP_SECURITY_DOMAIN: return "CKA_JAVA_MIDP_SECURITY_DOMAIN";
    case CKA_URL: return "CKA_URL                 ";
    case CKA_HASH_OF_SUBJECT_PUBLIC_KEY: return "CKA_HASH_OF_SUBJECT_PUBLIC_KEY";
    case CKA_HASH_OF_ISSUER_PUBLIC_KEY: return "CKA_HASH_OF_ISSUER_PUBLIC_KEY";
    case CKA_CHECK_VALUE: return "CKA_CHECK_VALUE         ";
    case CKA_KEY_TYPE: return "CKA_KEY_TYPE            ";
    case CKA_SUBJECT: return "CKA_SUBJECT             ";
    case CKA_ID: return "CKA_ID                  ";
    case CKA_SENSITIVE: return "CKA_SENSITIVE           ";
    case CKA_ENCRYPT: return "CKA_ENCRYPT             ";
    case CKA_DECRYPT: return "CKA_DECRYPT             ";
    case CKA_WRAP: return "CKA_WRAP                ";
    case CKA_UNWRAP: return "CKA_UNWRAP              ";
    case CKA_SIGN: return "CKA_SIGN                ";
    case CKA_SIGN_RECOVER: return "CKA_SIGN_RECOVER        ";
    case CKA_VERIFY: return "CKA_VERIFY              ";
    case CKA_VERIFY_RECOVER: return "CKA_VERIFY_RECOVER      ";
    case CKA_DERIVE: return "CKA_DERIVE              ";
    case CKA_START_DATE: return "CKA_START_DATE          ";
    case CKA_END_DATE: return "CKA_END_DATE            ";
    case CKA_MODULUS: return "CKA_MODULUS             ";
    case CKA_MODULUS_BITS: return "CKA_MODULUS_BITS        ";
    case CKA_PUBLIC_EXPONENT: return "CKA_PUBLIC_EXPONENT     ";
    case CKA_PRIME_BITS: return "CKA_PRIME_BITS          ";
    case CKA_SUB_PRIME_BITS: return "CKA_SUBPRIME_BITS       ";
    case CKA_VALUE_BITS: return "CKA_VALUE_BITS          ";
    case CKA_VALUE_LEN: return "CKA_VALUE_LEN           ";
    case CKA_EXTRACTABLE: return "CKA_EXTRACTABLE         ";
    case CKA_LOCAL: return "CKA_LOCAL               ";
    case CKA_NEVER_EXTRACTABLE: return "CKA_NEVER_EXTRACTABLE   ";
    case CKA_ALWAYS_SENSITIVE: return "CKA_ALWAYS_SENSITIVE    ";
    case CKA_KEY_GEN_MECHANISM: return "CKA_KEY_GEN_MECHANISM   ";
    case CKA_MODIFIABLE: return "CKA_MODIFIABLE          ";
    case CKA_EC_PARAMS: return "CKA_EC_PARAMS           ";
    case CKA_EC_POINT: return "CKA_EC_POINT            ";
    case CKA_SECONDARY_AUTH: return "CKA_SECONDARY_AUTH      ";
    case CKA_AUTH_PIN_FLAGS: return "CKA_AUTH_PIN_FLAGS      ";
    case CKA_ALWAYS_AUTHENTICATE: return "CKA_ALWAYS_AUTHENTICATE ";
    case CKA_WRAP_WITH_TRUSTED: return "CKA_WRAP_WITH_TRUSTED   ";
    case CKA_HW_FEATURE_TYPE: return "CKA_HW_FEATURE_TYPE     ";
    case CKA_RESET_ON_INIT: return "CKA_RESET_ON_INIT       ";
    case CKA_HAS_RESET: return "CKA_HAS_RESET           ";
    case CKA_PIXEL_X: return "CKA_PIXEL_X             ";
    case CKA_PIXEL_Y: return "CKA_PIXEL_Y             ";
    case CKA_RESOLUTION: return "CKA_RESOLUTION          ";
    case CKA_CHAR_ROWS: return "CKA_CHAR_ROWS           ";
    case CKA_CHAR_COLUMNS: return "CKA_CHAR_COLUMNS        ";
    case CKA_COLOR: return "CKA_COLOR               ";
    case CKA_BITS_PER_PIXEL: return "CKA_BITS_PER_PIXEL      ";
    case CKA_CHAR_SETS: return "CKA_CHAR_SETS           ";
    case CKA_ENCODING_METHODS: return "CKA_ENCODING_METHODS    ";
    case CKA_MIME_TYPES: return "CKA_MIME_TYPES          ";
    case CKA_MECHANISM_TYPE: return "CKA_MECHANISM_TYPE      ";
    case CKA_REQUIRED_CMS_ATTRIBUTES: return "CKA_REQUIRED_CMS_ATTRIBUTES";
    case CKA_DEFAULT_CMS_ATTRIBUTES: return "CKA_DEFAULT_CMS_ATTRIBUTES";
    case CKA_SUPPORTED_CMS_ATTRIBUTES: return "CKA_SUPPORTED_CMS_ATTRIBUTES";
    case CKA_WRAP_TEMPLATE: return "CKA_WRAP_TEMPLATE       ";
    case CKA_UNWRAP_TEMPLATE: return "CKA_UNWRAP_TEMPLATE     ";
    case CKA_ALLOWED_MECHANISMS: return "CKA_ALLOWED_MECHANISMS  ";
    case CKA_VENDOR_DEFINED: return "CKA_VENDOR_DEFINED      ";
    default: return nullptr;
    }
}

const char* KnownCkmName(CK_MECHANISM_TYPE value)
{
    switch (value) {
    case CKM_RSA_PKCS_KEY_PAIR_GEN: return "CKM_RSA_PKCS_KEY_PAIR_GEN";
    case CKM_RSA_PKCS: return "CKM_RSA_PKCS";
    case CKM_RSA_9796: return "CKM_RSA_9796";
    case CKM_RSA_X_509: return "CKM_RSA_X_509";
    case CKM_MD2_RSA_PKCS: return "CKM_MD2_RSA_PKCS";
    case CKM_MD5_RSA_PKCS: return "CKM_MD5_RSA_PKCS";
    case CKM_SHA1_RSA_PKCS: return "CKM_SHA1_RSA_PKCS";
    case CKM_RIPEMD128_RSA_PKCS: return "CKM_RIPEMD128_RSA_PKCS";
    case CKM_RIPEMD160_RSA_PKCS: return "CKM_RIPEMD160_RSA_PKCS";
    case CKM_RSA_PKCS_OAEP: return "CKM_RSA_PKCS_OAEP";
    case CKM_RSA_X9_31_KEY_PAIR_GEN: return "CKM_RSA_X9_31_KEY_PAIR_GEN";
    case CKM_RSA_X9_31: return "CKM_RSA_X9_31";
    case CKM_SHA1_RSA_X9_31: return "CKM_SHA1_RSA_X9_31";
    case CKM_RSA_PKCS_PSS: return "CKM_RSA_PKCS_PSS";
    case CKM_SHA1_RSA_PKCS_PSS: return "CKM_SHA1_RSA_PKCS_PSS";
    case CKM_DSA_KEY_PAIR_GEN: return "CKM_DSA_KEY_PAIR_GEN";
    case CKM_DSA: return "CKM_DSA";
    case CKM_DSA_SHA1: return "CKM_DSA_SHA1";
    case CKM_DH_PKCS_KEY_PAIR_GEN: return "CKM_DH_PKCS_KEY_PAIR_GEN";
    case CKM_DH_PKCS_DERIVE: return "CKM_DH_PKCS_DERIVE";
    case CKM_X9_42_DH_KEY_PAIR_GEN: return "CKM_X9_42_DH_KEY_PAIR_GEN";
    case CKM_X9_42_DH_DERIVE: return "CKM_X9_42_DH_DERIVE";
    case CKM_X9_42_DH_HYBRID_DERIVE: return "CKM_X9_42_DH_HYBRID_DERIVE";
    case CKM_X9_42_MQV_DERIVE: return "CKM_X9_42_MQV_DERIVE";
    case CKM_SHA256_RSA_PKCS: return "CKM_SHA256_RSA_PKCS";
    case CKM_SHA384_RSA_PKCS: return "CKM_SHA384_RSA_PKCS";
    case CKM_SHA512_RSA_PKCS: return "CKM_SHA512_RSA_PKCS";
    case CKM_SHA256_RSA_PKCS_PSS: return "CKM_SHA256_RSA_PKCS_PSS";
    case CKM_SHA384_RSA_PKCS_PSS: return "CKM_SHA384_RSA_PKCS_PSS";
    case CKM_SHA512_RSA_PKCS_PSS: return "CKM_SHA512_RSA_PKCS_PSS";
    case CKM_SHA224_RSA_PKCS: return "CKM_SHA224_RSA_PKCS";
    case CKM_SHA224_RSA_PKCS_PSS: return "CKM_SHA224_RSA_PKCS_PSS";
    case CKM_RC2_KEY_GEN: return "CKM_RC2_KEY_GEN";
    case CKM_RC2_ECB: return "CKM_RC2_ECB";
    case CKM_RC2_CBC: return "CKM_RC2_CBC";
    case CKM_RC2_MAC: return "CKM_RC2_MAC";
    case CKM_RC2_MAC_GENERAL: return "CKM_RC2_MAC_GENERAL";
    case CKM_RC2_CBC_PAD: return "CKM_RC2_CBC_PAD";
    case CKM_RC4_KEY_GEN: return "CKM_RC4_KEY_GEN";
    case CKM_RC4: return "CKM_RC4";
    case CKM_DES_KEY_GEN: return "CKM_DES_KEY_GEN";
    case CKM_DES_ECB: return "CKM_DES_ECB";
    case CKM_DES_CBC: return "CKM_DES_CBC";
    case CKM_DES_MAC: return "CKM_DES_MAC";
    case CKM_DES_MAC_GENERAL: return "CKM_DES_MAC_GENERAL";
    case CKM_DES_CBC_PAD: return "CKM_DES_CBC_PAD";
    case CKM_DES2_KEY_GEN: return "CKM_DES2_KEY_GEN";
    case CKM_DES3_KEY_GEN: return "CKM_DES3_KEY_GEN";
    case CKM_DES3_ECB: return "CKM_DES3_ECB";
    case CKM_DES3_CBC: return "CKM_DES3_CBC";
    case CKM_DES3_MAC: return "CKM_DES3_MAC";
    case CKM_DES3_MAC_GENERAL: return "CKM_DES3_MAC_GENERAL";
    case CKM_DES3_CBC_PAD: return "CKM_DES3_CBC_PAD";
    case CKM_CDMF_KEY_GEN: return "CKM_CDMF_KEY_GEN";
    case CKM_CDMF_ECB: return "CKM_CDMF_ECB";
    case CKM_CDMF_CBC: return "CKM_CDMF_CBC";
    case CKM_CDMF_MAC: return "CKM_CDMF_MAC";
    case CKM_CDMF_MAC_GENERAL: return "CKM_CDMF_MAC_GENERAL";
    case CKM_CDMF_CBC_PAD: return "CKM_CDMF_CBC_PAD";
    case CKM_DES_OFB64: return "CKM_DES_OFB64";
    case CKM_DES_OFB8: return "CKM_DES_OFB8";
    case CKM_DES_CFB64: return "CKM_DES_CFB64";
    case CKM_DES_CFB8: return "CKM_DES_CFB8";
    case CKM_MD2: return "CKM_MD2";
    case CKM_MD2_HMAC: return "CKM_MD2_HMAC";
    case CKM_MD2_HMAC_GENERAL: return "CKM_MD2_HMAC_GENERAL";
    case CKM_MD5: return "CKM_MD5";
    case CKM_MD5_HMAC: return "CKM_MD5_HMAC";
    case CKM_MD5_HMAC_GENERAL: return "CKM_MD5_HMAC_GENERAL";
    case CKM_SHA_1: return "CKM_SHA_1";
    case CKM_SHA_1_HMAC: return "CKM_SHA_1_HMAC";
    case CKM_SHA_1_HMAC_GENERAL: return "CKM_SHA_1_HMAC_GENERAL";
    case CKM_RIPEMD128: return "CKM_RIPEMD128";
    case CKM_RIPEMD128_HMAC: return "CKM_RIPEMD128_HMAC";
    case CKM_RIPEMD128_HMAC_GENERAL: return "CKM_RIPEMD128_HMAC_GENERAL";
    case CKM_RIPEMD160: return "CKM_RIPEMD160";
    case CKM_RIPEMD160_HMAC: return "CKM_RIPEMD160_HMAC";
    case CKM_RIPEMD160_HMAC_GENERAL: return "CKM_RIPEMD160_HMAC_GENERAL";
    case CKM_SHA256: return "CKM_SHA256";
    case CKM_SHA256_HMAC: return "CKM_SHA256_HMAC";
    case CKM_SHA256_HMAC_GENERAL: return "CKM_SHA256_HMAC_GENERAL";
    case CKM_SHA224: return "CKM_SHA224";
    case CKM_SHA224_HMAC: return "CKM_SHA224_HMAC";
    case CKM_SHA224_HMAC_GENERAL: return "CKM_SHA224_HMAC_GENERAL";
    case CKM_SHA384: return "CKM_SHA384";
    case CKM_SHA384_HMAC: return "CKM_SHA384_HMAC";
    case CKM_SHA384_HMAC_GENERAL: return "CKM_SHA384_HMAC_GENERAL";
    case CKM_SHA512: return "CKM_SHA512";
    case CKM_SHA512_HMAC: return "CKM_SHA512_HMAC";
    case CKM_SHA512_HMAC_GENERAL: return "CKM_SHA512_HMAC_GENERAL";
    case CKM_SECURID_KEY_GEN: return "CKM_SECURID_KEY_GEN";
    case CKM_SECURID: return "CKM_SECURID";
    case CKM_HOTP_KEY_GEN: return "CKM_HOTP_KEY_GEN";
    case CKM_HOTP: return "CKM_HOTP";
    case CKM_ACTI: return "CKM_ACTI";
    case CKM_ACTI_KEY_GEN: return "CKM_ACTI_KEY_GEN";
    case CKM_CAST_KEY_GEN: return "CKM_CAST_KEY_GEN";
    case CKM_CAST_ECB: return "CKM_CAST_ECB";
    case CKM_CAST_CBC: return "CKM_CAST_CBC";
    case CKM_CAST_MAC: return "CKM_CAST_MAC";
    case CKM_CAST_MAC_GENERAL: return "CKM_CAST_MAC_GENERAL";
    case CKM_CAST_CBC_PAD: return "CKM_CAST_CBC_PAD";
    case CKM_CAST3_KEY_GEN: return "CKM_CAST3_KEY_GEN";
    case CKM_CAST3_ECB: return "CKM_CAST3_ECB";
    case CKM_CAST3_CBC: return "CKM_CAST3_CBC";
    case CKM_CAST3_MAC: return "CKM_CAST3_MAC";
    case CKM_CAST3_MAC_GENERAL: return "CKM_CAST3_MAC_GENERAL";
    case CKM_CAST3_CBC_PAD: return "CKM_CAST3_CBC_PAD";
    case CKM_CAST5_KEY_GEN: return "CKM_CAST5_KEY_GEN/CKM_CAST128_KEY_GEN";
    case CKM_CAST128_ECB: return "CKM_CAST128_ECB";
    case CKM_CAST5_CBC: return "CKM_CAST5_CBC/CKM_CAST128_CBC";
    case CKM_CAST5_MAC: return "CKM_CAST5_MAC/CKM_CAST128_MAC";
    case CKM_CAST5_MAC_GENERAL: return "CKM_CAST5_MAC_GENERAL/CKM_CAST128_MAC_GENERAL";
    case CKM_CAST5_CBC_PAD: return "CKM_CAST5_CBC_PAD/CKM_CAST128_CBC_PAD";
    case CKM_RC5_KEY_GEN: return "CKM_RC5_KEY_GEN";
    case CKM_RC5_ECB: return "CKM_RC5_ECB";
    case CKM_RC5_CBC: return "CKM_RC5_CBC";
    case CKM_RC5_MAC: return "CKM_RC5_MAC";
    case CKM_RC5_MAC_GENERAL: return "CKM_RC5_MAC_GENERAL";
    case CKM_RC5_CBC_PAD: return "CKM_RC5_CBC_PAD";
    case CKM_IDEA_KEY_GEN: return "CKM_IDEA_KEY_GEN";
    case CKM_IDEA_ECB: return "CKM_IDEA_ECB";
    case CKM_IDEA_CBC: return "CKM_IDEA_CBC";
    case CKM_IDEA_MAC: return "CKM_IDEA_MAC";
    case CKM_IDEA_MAC_GENERAL: return "CKM_IDEA_MAC_GENERAL";
    case CKM_IDEA_CBC_PAD: return "CKM_IDEA_CBC_PAD";
    case CKM_GENERIC_SECRET_KEY_GEN: return "CKM_GENERIC_SECRET_KEY_GEN";
    case CKM_CONCATENATE_BASE_AND_KEY: return "CKM_CONCATENATE_BASE_AND_KEY";
    case CKM_CONCATENATE_BASE_AND_DATA: return "CKM_CONCATENATE_BASE_AND_DATA";
    case CKM_CONCATENATE_DATA_AND_BASE: return "CKM_CONCATENATE_DATA_AND_BASE";
    case CKM_XOR_BASE_AND_DATA: return "CKM_XOR_BASE_AND_DATA";
    case CKM_EXTRACT_KEY_FROM_KEY: return "CKM_EXTRACT_KEY_FROM_KEY";
    case CKM_SSL3_PRE_MASTER_KEY_GEN: return "CKM_SSL3_PRE_MASTER_KEY_GEN";
    case CKM_SSL3_MASTER_KEY_DERIVE: return "CKM_SSL3_MASTER_KEY_DERIVE";
    case CKM_SSL3_KEY_AND_MAC_DERIVE: return "CKM_SSL3_KEY_AND_MAC_DERIVE";
    case CKM_SSL3_MASTER_KEY_DERIVE_DH: return "CKM_SSL3_MASTER_KEY_DERIVE_DH";
    case CKM_TLS_PRE_MASTER_KEY_GEN: return "CKM_TLS_PRE_MASTER_KEY_GEN";
    case CKM_TLS_MASTER_KEY_DERIVE: return "CKM_TLS_MASTER_KEY_DERIVE";
    case CKM_TLS_KEY_AND_MAC_DERIVE: return "CKM_TLS_KEY_AND_MAC_DERIVE";
    case CKM_TLS_MASTER_KEY_DERIVE_DH: return "CKM_TLS_MASTER_KEY_DERIVE_DH";
    case CKM_TLS_PRF: return "CKM_TLS_PRF";
    case CKM_SSL3_MD5_MAC: return "CKM_SSL3_MD5_MAC";
    case CKM_SSL3_SHA1_MAC: return "CKM_SSL3_SHA1_MAC";
    case CKM_MD5_KEY_DERIVATION: return "CKM_MD5_KEY_DERIVATION";
    case CKM_MD2_KEY_DERIVATION: return "CKM_MD2_KEY_DERIVATION";
    case CKM_SHA1_KEY_DERIVATION: return "CKM_SHA1_KEY_DERIVATION";
    case CKM_SHA256_KEY_DERIVATION: return "CKM_SHA256_KEY_DERIVATION";
    case CKM_SHA384_KEY_DERIVATION: return "CKM_SHA384_KEY_DERIVATION";
    case CKM_SHA512_KEY_DERIVATION: return "CKM_SHA512_KEY_DERIVATION";
    case CKM_SHA224_KEY_DERIVATION: return "CKM_SHA224_KEY_DERIVATION";
    case CKM_PBE_MD2_DES_CBC: return "CKM_PBE_MD2_DES_CBC";
    case CKM_PBE_MD5_DES_CBC: return "CKM_PBE_MD5_DES_CBC";
    case CKM_PBE_MD5_CAST_CBC: return "CKM_PBE_MD5_CAST_CBC";
    case CKM_PBE_MD5_CAST3_CBC: return "CKM_PBE_MD5_CAST3_CBC";
    case CKM_PBE_MD5_CAST5_CBC: return "CKM_PBE_MD5_CAST5_CBC/CKM_PBE_MD5_CAST128_CBC";
    case CKM_PBE_SHA1_CAST5_CBC: return "CKM_PBE_SHA1_CAST5_CBC/CKM_PBE_SHA1_CAST128_CBC";
    case CKM_PBE_SHA1_RC4_128: return "CKM_PBE_SHA1_RC4_128";
    case CKM_PBE_SHA1_RC4_40: return "CKM_PBE_SHA1_RC4_40";
    case CKM_PBE_SHA1_DES3_EDE_CBC: return "CKM_PBE_SHA1_DES3_EDE_CBC";
    case CKM_PBE_SHA1_DES2_EDE_CBC: return "CKM_PBE_SHA1_DES2_EDE_CBC";
    case CKM_PBE_SHA1_RC2_128_CBC: return "CKM_PBE_SHA1_RC2_128_CBC";
    case CKM_PBE_SHA1_RC2_40_CBC: return "CKM_PBE_SHA1_RC2_40_CBC";
    case CKM_PKCS5_PBKD2: return "CKM_PKCS5_PBKD2";
    case CKM_PBA_SHA1_WITH_SHA1_HMAC: return "CKM_PBA_SHA1_WITH_SHA1_HMAC";
    case CKM_WTLS_PRE_MASTER_KEY_GEN: return "CKM_WTLS_PRE_MASTER_KEY_GEN";
    case CKM_WTLS_MASTER_KEY_DERIVE: return "CKM_WTLS_MASTER_KEY_DERIVE";
    case CKM_WTLS_MASTER_KEY_DERIVE_DH_ECC: return "CKM_WTLS_MASTER_KEY_DERIVE_DH_ECC";
    case CKM_WTLS_PRF: return "CKM_WTLS_PRF";
    case CKM_WTLS_SERVER_KEY_AND_MAC_DERIVE: return "CKM_WTLS_SERVER_KEY_AND_MAC_DERIVE";
    case CKM_WTLS_CLIENT_KEY_AND_MAC_DERIVE: return "CKM_WTLS_CLIENT_KEY_AND_MAC_DERIVE";
    case CKM_KEY_WRAP_LYNKS: return "CKM_KEY_WRAP_LYNKS";
    case CKM_KEY_WRAP_SET_OAEP: return "CKM_KEY_WRAP_SET_OAEP";
    case CKM_CMS_SIG: return "CKM_CMS_SIG";
    case CKM_KIP_DERIVE: return "CKM_KIP_DERIVE";
    case CKM_KIP_WRAP: return "CKM_KIP_WRAP";
    case CKM_KIP_MAC: return "CKM_KIP_MAC";
    case CKM_CAMELLIA_KEY_GEN: return "CKM_CAMELLIA_KEY_GEN";
    case CKM_CAMELLIA_ECB: return "CKM_CAMELLIA_ECB";
    case CKM_CAMELLIA_CBC: return "CKM_CAMELLIA_CBC";
    case CKM_CAMELLIA_MAC: return "CKM_CAMELLIA_MAC";
    case CKM_CAMELLIA_MAC_GENERAL: return "CKM_CAMELLIA_MAC_GENERAL";
    case CKM_CAMELLIA_CBC_PAD: return "CKM_CAMELLIA_CBC_PAD";
    case CKM_CAMELLIA_ECB_ENCRYPT_DATA: return "CKM_CAMELLIA_ECB_ENCRYPT_DATA";
    case CKM_CAMELLIA_CBC_ENCRYPT_DATA: return "CKM_CAMELLIA_CBC_ENCRYPT_DATA";
    case CKM_CAMELLIA_CTR: return "CKM_CAMELLIA_CTR";
    case CKM_ARIA_KEY_GEN: return "CKM_ARIA_KEY_GEN";
    case CKM_ARIA_ECB: return "CKM_ARIA_ECB";
    case CKM_ARIA_CBC: return "CKM_ARIA_CBC";
    case CKM_ARIA_MAC: return "CKM_ARIA_MAC";
    case CKM_ARIA_MAC_GENERAL: return "CKM_ARIA_MAC_GENERAL";
    case CKM_ARIA_CBC_PAD: return "CKM_ARIA_CBC_PAD";
    case CKM_ARIA_ECB_ENCRYPT_DATA: return "CKM_ARIA_ECB_ENCRYPT_DATA";
    case CKM_ARIA_CBC_ENCRYPT_DATA: return "CKM_ARIA_CBC_ENCRYPT_DATA";
    case CKM_SKIPJACK_KEY_GEN: return "CKM_SKIPJACK_KEY_GEN";
    case CKM_SKIPJACK_ECB64: return "CKM_SKIPJACK_ECB64";
    case CKM_SKIPJACK_CBC64: return "CKM_SKIPJACK_CBC64";
    case CKM_SKIPJACK_OFB64: return "CKM_SKIPJACK_OFB64";
    case CKM_SKIPJACK_CFB64: return "CKM_SKIPJACK_CFB64";
    case CKM_SKIPJACK_CFB32: return "CKM_SKIPJACK_CFB32";
    case CKM_SKIPJACK_CFB16: return "CKM_SKIPJACK_CFB16";
    case CKM_SKIPJACK_CFB8: return "CKM_SKIPJACK_CFB8";
    case CKM_SKIPJACK_WRAP: return "CKM_SKIPJACK_WRAP";
    case CKM_SKIPJACK_PRIVATE_WRAP: return "CKM_SKIPJACK_PRIVATE_WRAP";
    case CKM_SKIPJACK_RELAYX: return "CKM_SKIPJACK_RELAYX";
    case CKM_KEA_KEY_PAIR_GEN: return "CKM_KEA_KEY_PAIR_GEN";
    case CKM_KEA_KEY_DERIVE: return "CKM_KEA_KEY_DERIVE";
    case CKM_FORTEZZA_TIMESTAMP: return "CKM_FORTEZZA_TIMESTAMP";
    case CKM_BATON_KEY_GEN: return "CKM_BATON_KEY_GEN";
    case CKM_BATON_ECB128: return "CKM_BATON_ECB128";
    case CKM_BATON_ECB96: return "CKM_BATON_ECB96";
    case CKM_BATON_CBC128: return "CKM_BATON_CBC128";
    case CKM_BATON_COUNTER: return "CKM_BATON_COUNTER";
    case CKM_BATON_SHUFFLE: return "CKM_BATON_SHUFFLE";
    case CKM_BATON_WRAP: return "CKM_BATON_WRAP";
    case CKM_ECDSA_KEY_PAIR_GEN: return "CKM_ECDSA_KEY_PAIR_GEN/CKM_EC_KEY_PAIR_GEN";
    case CKM_ECDSA_SHA1: return "CKM_ECDSA_SHA1";
    case CKM_ECDH1_DERIVE: return "CKM_ECDH1_DERIVE";
    case CKM_ECDH1_COFACTOR_DERIVE: return "CKM_ECDH1_COFACTOR_DERIVE";
    case CKM_ECMQV_DERIVE: return "CKM_ECMQV_DERIVE";
    case CKM_JUNIPER_KEY_GEN: return "CKM_JUNIPER_KEY_GEN";
    case CKM_JUNIPER_ECB128: return "CKM_JUNIPER_ECB128";
    case CKM_JUNIPER_CBC128: return "CKM_JUNIPER_CBC128";
    case CKM_JUNIPER_COUNTER: return "CKM_JUNIPER_COUNTER";
    case CKM_JUNIPER_SHUFFLE: return "CKM_JUNIPER_SHUFFLE";
    case CKM_JUNIPER_WRAP: return "CKM_JUNIPER_WRAP";
    case CKM_FASTHASH: return "CKM_FASTHASH";
    case CKM_AES_KEY_GEN: return "CKM_AES_KEY_GEN";
    case CKM_AES_ECB: return "CKM_AES_ECB";
    case CKM_AES_CBC: return "CKM_AES_CBC";
    case CKM_AES_MAC: return "CKM_AES_MAC";
    case CKM_AES_MAC_GENERAL: return "CKM_AES_MAC_GENERAL";
    case CKM_AES_CBC_PAD: return "CKM_AES_CBC_PAD";
    case CKM_AES_CTR: return "CKM_AES_CTR";
    case CKM_BLOWFISH_KEY_GEN: return "CKM_BLOWFISH_KEY_GEN";
    case CKM_BLOWFISH_CBC: return "CKM_BLOWFISH_CBC";
    case CKM_TWOFISH_KEY_GEN: return "CKM_TWOFISH_KEY_GEN";
    case CKM_TWOFISH_CBC: return "CKM_TWOFISH_CBC";
    case CKM_DES_ECB_ENCRYPT_DATA: return "CKM_DES_ECB_ENCRYPT_DATA";
    case CKM_DES_CBC_ENCRYPT_DATA: return "CKM_DES_CBC_ENCRYPT_DATA";
    case CKM_DES3_ECB_ENCRYPT_DATA: return "CKM_DES3_ECB_ENCRYPT_DATA";
    case CKM_DES3_CBC_ENCRYPT_DATA: return "CKM_DES3_CBC_ENCRYPT_DATA";
    case CKM_AES_ECB_ENCRYPT_DATA: return "CKM_AES_ECB_ENCRYPT_DATA";
    case CKM_AES_CBC_ENCRYPT_DATA: return "CKM_AES_CBC_ENCRYPT_DATA";
    case CKM_DSA_PARAMETER_GEN: return "CKM_DSA_PARAMETER_GEN";
    case CKM_DH_PKCS_PARAMETER_GEN: return "CKM_DH_PKCS_PARAMETER_GEN";
    case CKM_X9_42_DH_PARAMETER_GEN: return "CKM_X9_42_DH_PARAMETER_GEN";
    case CKM_VENDOR_DEFINED: return "CKM_VENDOR_DEFINED";
    default: return nullptr;
    }
}

const char* KnownCkoName(CK_OBJECT_CLASS value)
{
    switch (value) {
    case CKO_DATA: return "CKO_DATA";
    case CKO_CERTIFICATE: return "CKO_CERTIFICATE";
    case CKO_PUBLIC_KEY: return "CKO_PUBLIC_KEY";
    case CKO_PRIVATE_KEY: return "CKO_PRIVATE_KEY";
    case CKO_SECRET_KEY: return "CKO_SECRET_KEY [not supported]";
    case CKO_HW_FEATURE: return "CKO_HW_FEATURE [not supported]";
    case CKO_DOMAIN_PARAMETERS: return "CKO_DOMAIN_PARAMETERS [not supported]";
    case CKO_MECHANISM: return "CKO_MECHANISM [not supported]";
    case CKO_OTP_KEY: return "CKO_OTP_KEY [not supported]";
    case CKO_VENDOR_DEFINED: return "CKO_VENDOR_DEFINED [not supported]";
    default: return nullptr;
    }
}

const char* KnownCkkName(CK_KEY_TYPE value)
{
    switch (value) {
    case CKK_RSA: return "CKK_RSA";
    case CKK_DSA: return "CKK_DSA";
    case CKK_DH: return "CKK_DH";
    case CKK_EC: return "CKK_EC/ECDSA";
    case CKK_X9_42_DH: return "CKK_X9_42_DH";
    case CKK_KEA: return "CKK_KEA";
    case CKK_GENERIC_SECRET: return "CKK_GENERIC_SECRET";
    case CKK_RC2: return "CKK_RC2";
    case CKK_RC4: return "CKK_RC4";
    case CKK_DES: return "CKK_DES";
    case CKK_DES2: return "CKK_DES2";
    case CKK_DES3: return "CKK_DES3";
    case CKK_CAST: return "CKK_CAST";
    case CKK_CAST3: return "CKK_CAST3";
    case CKK_CAST128: return "CKK_CAST5/128";
    case CKK_RC5: return "CKK_RC5";
    case CKK_IDEA: return "CKK_IDEA";
    case CKK_SKIPJACK: return "CKK_SKIPJACK";
    case CKK_BATON: return "CKK_BATON";
    case CKK_JUNIPER: return "CKK_JUNIPER";
    case CKK_CDMF: return "CKK_CDMF";
    case CKK_AES: return "CKK_AES";
    case CKK_BLOWFISH: return "CKK_BLOWFISH";
    case CKK_TWOFISH: return "CKK_TWOFISH";
    case CKK_SECURID: return "CKK_SECURID";
    case CKK_HOTP: return "CKK_HOTP";
    case CKK_ACTI: return "CKK_ACTI";
    case CKK_CAMELLIA: return "CKK_CAMELLIA";
    case CKK_ARIA: return "CKK_ARIA";
    case CKK_VENDOR_DEFINED: return "CKK_VENDOR_DEFINED";
    default: return nullptr;
    }
}

}  // namespace

const char* CkrToString(CK_RV value)
{
    const char* name = KnownCkrName(value);
    return name != nullptr ? name : Fallback("[%08lXh] Unknown CKR result", value);
}

const char* CkaToString(CK_ATTRIBUTE_TYPE value)
{
    const char* name = KnownCkaName(value);
    return name != nullptr ? name : Fallback("[%08lXh] UNKNOWN ATTRIBUTE", value);
}

const char* CkmToString(CK_MECHANISM_TYPE value)
{
    if (LoggingOff()) return nullptr;
    const char* name = KnownCkmName(value);
    return name != nullptr ? name : Fallback("[%08lXh] UNKNOWN MECHANISM TYPE", value);
}

const char* CkuToString(CK_USER_TYPE value)
{
    if (LoggingOff()) return nullptr;
    switch (value) {
    case CKU_SO: return "CKU_SO";
    case CKU_USER: return "CKU_USER";
    case CKU_CONTEXT_SPECIFIC: return "CKU_CONTEXT_SPECIFIC";
    default: return SignedFallback("[%ld] UNKNOWN USER TYPE", value);
    }
}

const char* CkoToString(CK_OBJECT_CLASS value)
{
    const char* name = KnownCkoName(value);
    return name != nullptr ? name : Fallback("[%08lXh] UNKNOWN OBJECT CLASS", value);
}

const char* CkkToString(CK_KEY_TYPE value)
{
    const char* name = KnownCkkName(value);
    return name != nullptr ? name : SignedFallback("[%ld] UNKNOWN KEY TYPE", value);
}

const char* CkcToString(CK_CERTIFICATE_TYPE value)
{
    switch (value) {
    case CKC_X_509: return "CKC_X_509";
    case CKC_X_509_ATTR_CERT: return "CKC_X_509_ATTR_CERT";
    case CKC_WTLS: return "CKC_WTLS";
    case CKC_VENDOR_DEFINED: return "CKC_VENDOR_DEFINED";
    default: return SignedFallback("[%ld] UNKNOWN CERTIFICATE TYPE", value);
    }
}

const char* FormatUlongList(const CK_ULONG* values, CK_ULONG count)
{
    char* buffer = LogTextBuffer();
    // Room kept at the end for the closing ", ...]" of a list that was cut.
    constexpr size_t kClosingRoom = 6;
    size_t used = 1;
    buffer[0] = '[';
    bool cut = false;
    for (CK_ULONG i = 0; values != nullptr && i < count; ++i) {
        char item[32];
        const int length = std::snprintf(item, sizeof item, "%s%ld", i == 0 ? "" : ", ",
                                         static_cast<long>(values[i]));
        if (used + static_cast<size_t>(length) + kClosingRoom >= kLogTextBufferSize) {
            cut = true;
            break;
        }
        std::memcpy(buffer + used, item, static_cast<size_t>(length));
        used += static_cast<size_t>(length);
    }
    std::snprintf(buffer + used, kLogTextBufferSize - used, "%s", cut ? ", ...]" : "]");
    return buffer;
}
