#include "ASN1Object.h"

#include <botan/ber_dec.h>
#include <botan/der_enc.h>
#include <botan/exceptn.h>

#include <climits>

#include "ASN1Types.h"

namespace Brelt::Crypto::ASN {

using MW::Base::HexBinary;

namespace {

// The node class that stands for an object with these tags.
std::unique_ptr<ASN1Object> MakeNodeFor(uint32_t classTag, uint32_t typeTag)
{
    if (classTag & kClassConstructed) {
        if (typeTag == 16) return std::make_unique<ASN1Sequence>();
        if (typeTag == 17) return std::make_unique<ASN1Set>();
    }
    if (classTag != kClassUniversal) return std::make_unique<ASN1Object>();
    switch (typeTag) {
    case 1: return std::make_unique<ASN1Boolean>(false);
    case 2: return std::make_unique<ASN1Integer>();
    case 3: return std::make_unique<ASN1BitString>();
    case 4: return std::make_unique<ASN1OctetString>(nullptr);
    case 5: return std::make_unique<ASN1Null>();
    case 6: return std::make_unique<ASN1ObjectIdentifier>();
    case 12: return std::make_unique<ASN1UTF8String>();
    case 18: return std::make_unique<ASN1NumericString>();
    case 19: return std::make_unique<ASN1PrintableString>();
    case 20: return std::make_unique<ASN1T61String>();
    case 22: return std::make_unique<ASN1IA5String>();
    case 23:
    case 24: return std::make_unique<ASN1UTCTime>();
    case 26: return std::make_unique<ASN1VisibleString>();
    default: return std::make_unique<ASN1Object>();
    }
}

Botan::secure_vector<uint8_t> BytesOf(const HexBinary* buffer)
{
    if (buffer == nullptr || buffer->data == nullptr || buffer->length <= 0) return {};
    return Botan::secure_vector<uint8_t>(buffer->data, buffer->data + buffer->length);
}

}  // namespace

ASN1Object::ASN1Object() = default;

ASN1Object::ASN1Object(uint32_t classTag, uint32_t typeTag)
{
    SetTagged(classTag, typeTag, {});
    if (IsConstructedClass(classTag))
        children_ = std::make_unique<std::vector<std::unique_ptr<ASN1Object>>>();
}

ASN1Object::ASN1Object(uint32_t classTag, uint32_t typeTag, const HexBinary* contents)
{
    SetTagged(classTag, typeTag, BytesOf(contents));
    ParseChildren(1);
}

ASN1Object::~ASN1Object() = default;

void ASN1Object::Dummy() {}

bool ASN1Object::IsConstructedClass(uint32_t classTag)
{
    return classTag == 0x20 || classTag == 0x60 || classTag == 0xA0;
}

void ASN1Object::SetTagged(uint32_t classTag, uint32_t typeTag, Botan::secure_vector<uint8_t> contents)
{
    auto value = std::make_unique<TaggedValue>();
    value->classTag = classTag;
    value->typeTag = typeTag;
    value->contents = std::move(contents);
    value_ = std::move(value);
}

void ASN1Object::Parse(const HexBinary* data)
{
    const Botan::secure_vector<uint8_t> bytes = BytesOf(data);
    Botan::BER_Decoder decoder(bytes);
    Botan::BER_Object object = decoder.get_next_object();
    SetTagged(object.get_class(), object.type(),
              Botan::secure_vector<uint8_t>(object.bits(), object.bits() + object.length()));
    children_.reset();
    ParseChildren(1);
}

// Decodes the contents of a constructed node into child nodes. `depth` is the
// nesting depth of this node (1 for the node being parsed).
void ASN1Object::ParseChildren(int depth)
{
    if (!value_ || (value_->classTag & kClassConstructed) == 0) return;
    if (!children_) children_ = std::make_unique<std::vector<std::unique_ptr<ASN1Object>>>();

    Botan::BER_Decoder decoder(value_->contents);
    while (decoder.more_items()) {
        Botan::BER_Object object = decoder.get_next_object();
        if (!object.is_set()) break;  // only end-of-contents markers were left
        if (depth >= kMaxNestingDepth) throw Botan::Decoding_Error("ASN.1 nesting too deep");

        std::unique_ptr<ASN1Object> child = MakeNodeFor(object.get_class(), object.type());
        child->SetTagged(object.get_class(), object.type(),
                         Botan::secure_vector<uint8_t>(object.bits(), object.bits() + object.length()));
        child->children_.reset();
        child->parent_ = this;
        child->ParseChildren(depth + 1);
        children_->push_back(std::move(child));
    }
}

HexBinary* ASN1Object::GetValue() const
{
    if (!value_ || value_->contents.empty()) return new HexBinary();
    if (value_->contents.size() > static_cast<size_t>(INT_MAX))
        throw Botan::Encoding_Error("ASN.1 contents too large");
    return new HexBinary(value_->contents.data(), static_cast<int>(value_->contents.size()), true);
}

std::vector<ASN1Object*> ASN1Object::GetChildren() const
{
    std::vector<ASN1Object*> result;
    if (children_) {
        result.reserve(children_->size());
        for (const auto& child : *children_) result.push_back(child.get());
    }
    return result;
}

ASN1Object* ASN1Object::FindChild(uint8_t identifier) const
{
    if (!children_) return nullptr;
    uint8_t wanted = identifier;
    if (wanted == 16) wanted = 0x30;
    else if (wanted == 17) wanted = 0x31;
    for (const auto& child : *children_) {
        if (!child->value_) continue;
        const uint8_t octet = static_cast<uint8_t>(child->value_->typeTag + child->value_->classTag);
        if (octet == wanted) return child.get();
    }
    return nullptr;
}

void ASN1Object::AddChild(ASN1Object* child)
{
    AddChild(std::unique_ptr<ASN1Object>(child));
}

void ASN1Object::AddChild(std::unique_ptr<ASN1Object> child)
{
    if (!child || !value_ || !IsConstructedClass(value_->classTag)) return;
    if (!children_) children_ = std::make_unique<std::vector<std::unique_ptr<ASN1Object>>>();
    child->parent_ = this;
    children_->push_back(std::move(child));
}

Botan::secure_vector<uint8_t> ASN1Object::EncodeDer() const
{
    if (!value_) throw Botan::Encoding_Error("ASN.1 node without tags");

    Botan::secure_vector<uint8_t> body;
    if (IsConstructedClass(value_->classTag) && children_) {
        // Children in stored order: a SET is not sorted.
        for (const auto& child : *children_) {
            const Botan::secure_vector<uint8_t> encoded = child->EncodeDer();
            body.insert(body.end(), encoded.begin(), encoded.end());
        }
    } else {
        body = value_->contents;
    }

    Botan::DER_Encoder encoder;
    encoder.add_object(static_cast<Botan::ASN1_Tag>(value_->typeTag),
                       static_cast<Botan::ASN1_Tag>(value_->classTag), body.data(), body.size());
    return encoder.get_contents();
}

HexBinary* ASN1Object::GetEncoded() const
{
    const Botan::secure_vector<uint8_t> encoded = EncodeDer();
    if (encoded.size() > static_cast<size_t>(INT_MAX)) throw Botan::Encoding_Error("ASN.1 encoding too large");
    return new HexBinary(encoded.data(), static_cast<int>(encoded.size()), true);
}

uint32_t ASN1Object::GetTypeTag() const
{
    return value_ ? value_->typeTag : 0;
}

uint32_t ASN1Object::GetClassTag() const
{
    return value_ ? value_->classTag : 0;
}

const Botan::secure_vector<uint8_t>& ASN1Object::Contents() const
{
    static const Botan::secure_vector<uint8_t> kEmpty;
    return value_ ? value_->contents : kEmpty;
}

void ReleaseAsn1Object(ASN1Object** holder)
{
    if (holder == nullptr) return;
    delete *holder;
    *holder = nullptr;
}

}  // namespace Brelt::Crypto::ASN
