#include "SecureMessaging.h"

#include "Tlv.h"

#include <botan/cipher_mode.h>
#include <botan/hash.h>
#include <botan/block_cipher.h>

namespace cardsim::detail {

namespace {

void IncrementCounter(Bytes& ssc)
{
    for (size_t i = ssc.size(); i-- > 0;)
        if (++ssc[i] != 0)
            return;
}

Bytes Mac(const SmSession& session, const Bytes& input)
{
    return RetailMac(session.kMac, Pad2(Concat({session.ssc, input})));
}

Bytes StripPad2(const Bytes& data)
{
    size_t end = data.size();
    while (end > 0 && data[end - 1] == 0x00)
        --end;
    if (end == 0 || data[end - 1] != 0x80)
        return {};
    return Bytes(data.begin(), data.begin() + end - 1);
}

}  // namespace

Bytes Pad2(const Bytes& data)
{
    Bytes padded(data);
    padded.push_back(0x80);
    while (padded.size() % 8 != 0)
        padded.push_back(0x00);
    return padded;
}

Bytes RetailMac(const Bytes& key, const Bytes& paddedData)
{
    // ISO/IEC 9797-1 MAC algorithm 3: single-DES CBC under K1, then the last
    // block deciphered under K2 and enciphered under K3 (K1 for 16-byte keys).
    auto k1 = Botan::BlockCipher::create_or_throw("DES");
    auto k2 = Botan::BlockCipher::create_or_throw("DES");
    auto k3 = Botan::BlockCipher::create_or_throw("DES");
    k1->set_key(key.data(), 8);
    k2->set_key(key.data() + 8, 8);
    k3->set_key(key.size() >= 24 ? key.data() + 16 : key.data(), 8);
    Bytes chain(8, 0x00);
    for (size_t pos = 0; pos + 8 <= paddedData.size(); pos += 8) {
        for (size_t i = 0; i < 8; ++i)
            chain[i] ^= paddedData[pos + i];
        k1->encrypt(chain.data());
    }
    k2->decrypt(chain.data());
    k3->encrypt(chain.data());
    return chain;
}

Bytes TripleDesCbc(const Bytes& key, const Bytes& data, bool encrypt)
{
    auto mode = Botan::Cipher_Mode::create_or_throw("TripleDES/CBC/NoPadding",
                                                    encrypt ? Botan::ENCRYPTION : Botan::DECRYPTION);
    mode->set_key(key);
    mode->start(Bytes(8, 0x00));
    Botan::secure_vector<uint8_t> buffer(data.begin(), data.end());
    mode->finish(buffer);
    return Bytes(buffer.begin(), buffer.end());
}

SmSession DeriveSession(const Bytes& sharedSecret)
{
    auto derive = [&](uint8_t counter) {
        auto sha1 = Botan::HashFunction::create_or_throw("SHA-1");
        sha1->update(sharedSecret);
        sha1->update(Bytes{0x00, 0x00, 0x00, counter});
        const auto digest = sha1->final();
        return Bytes(digest.begin(), digest.begin() + 16);
    };
    SmSession session;
    session.kEnc = derive(1);
    session.kMac = derive(2);
    return session;
}

std::optional<Command> UnwrapCommand(SmSession& session, const Command& protectedCmd)
{
    IncrementCounter(session.ssc);
    const auto objects = ParseTlvs(protectedCmd.data);
    if (!objects)
        return std::nullopt;
    const TlvElement* cryptogram = nullptr;
    const TlvElement* expected = nullptr;
    const TlvElement* checksum = nullptr;
    Bytes macInput = Pad2({protectedCmd.cla, protectedCmd.ins, protectedCmd.p1, protectedCmd.p2});
    for (const TlvElement& object : *objects) {
        switch (object.tag) {
        case 0x85:
        case 0x87:
            if (cryptogram || expected || checksum)
                return std::nullopt;
            cryptogram = &object;
            macInput = Concat({macInput, Tlv(object.tag, object.value)});
            break;
        case 0x97:
            if (expected || checksum)
                return std::nullopt;
            expected = &object;
            macInput = Concat({macInput, Tlv(object.tag, object.value)});
            break;
        case 0x8E:
            if (checksum)
                return std::nullopt;
            checksum = &object;
            break;
        default:
            return std::nullopt;
        }
    }
    if (checksum == nullptr || checksum->value != Mac(session, macInput))
        return std::nullopt;

    Command plain;
    plain.cla = uint8_t(protectedCmd.cla & ~0x0C);
    plain.ins = protectedCmd.ins;
    plain.p1 = protectedCmd.p1;
    plain.p2 = protectedCmd.p2;
    if (cryptogram) {
        Bytes enciphered = cryptogram->value;
        if (cryptogram->tag == 0x87) {
            if (enciphered.empty() || enciphered[0] != 0x01)
                return std::nullopt;
            enciphered.erase(enciphered.begin());
        }
        if (enciphered.empty() || enciphered.size() % 8 != 0)
            return std::nullopt;
        plain.data = StripPad2(TripleDesCbc(session.kEnc, enciphered, false));
        if (plain.data.empty())
            return std::nullopt;
    }
    if (expected) {
        if (expected->value.size() > 2)
            return std::nullopt;
        size_t le = 0;
        for (uint8_t b : expected->value)
            le = (le << 8) | b;
        plain.hasLe = true;
        plain.extended = expected->value.size() == 2;
        plain.ne = le != 0 ? le : (plain.extended ? 65536 : 256);
    }
    plain.extended = plain.extended || plain.data.size() > 255;
    return plain;
}

Bytes WrapResponse(SmSession& session, const Bytes& data, uint16_t status)
{
    IncrementCounter(session.ssc);
    Bytes objects;
    if (!data.empty())
        objects = Tlv(0x87, Concat({{0x01}, TripleDesCbc(session.kEnc, Pad2(data), true)}));
    objects = Concat({objects, Tlv(0x99, {uint8_t(status >> 8), uint8_t(status & 0xFF)})});
    return Concat({objects, Tlv(0x8E, Mac(session, objects)), {uint8_t(status >> 8), uint8_t(status & 0xFF)}});
}

}  // namespace cardsim::detail
