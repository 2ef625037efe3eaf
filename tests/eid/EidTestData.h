#pragma once
// DER builders for security infos and card files used by the eID tests.

#include <botan/asn1_oid.h>
#include <botan/der_enc.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "BaseTypes.h"

namespace eidtest {

using Bytes = std::vector<uint8_t>;

inline Brelt::MW::Base::HexBinary Hex(const Bytes& bytes) {
    return Brelt::MW::Base::HexBinary(bytes.data(), static_cast<int32_t>(bytes.size()), true);
}

// SEQUENCE { OID protocol, <body> }.
inline Bytes Info(const std::string& protocol, const std::function<void(Botan::DER_Encoder&)>& body) {
    Botan::DER_Encoder der;
    der.start_cons(Botan::SEQUENCE).encode(Botan::OID(protocol));
    body(der);
    der.end_cons();
    return der.get_contents_unlocked();
}

// SEQUENCE { OID protocol, INTEGER a [, INTEGER b] }.
inline Bytes IntInfo(const std::string& protocol, size_t a) {
    return Info(protocol, [&](Botan::DER_Encoder& d) { d.encode(a); });
}
inline Bytes IntInfo(const std::string& protocol, size_t a, size_t b) {
    return Info(protocol, [&](Botan::DER_Encoder& d) { d.encode(a).encode(b); });
}

inline void StandardizedDomain(Botan::DER_Encoder& der, size_t id) {
    der.start_cons(Botan::SEQUENCE).encode(Botan::OID("0.4.0.127.0.7.1.2")).encode(id).end_cons();
}

inline Bytes SetOf(const std::vector<Bytes>& infos) {
    Botan::DER_Encoder der;
    der.start_cons(Botan::SET);
    for (const Bytes& info : infos) der.raw_bytes(info);
    der.end_cons();
    return der.get_contents_unlocked();
}

}  // namespace eidtest
