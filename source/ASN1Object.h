#pragma once
// One node of an ASN.1 value tree: its tags, its raw contents octets, its
// children (constructed nodes only) and its parent. Parsed from BER, encoded
// as DER, both through Botan.

#include <botan/secmem.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "BaseTypes.h"

namespace Brelt::Crypto::ASN {

// Identifier-octet class bits as stored in a node's class tag.
inline constexpr uint32_t kClassUniversal = 0x00;
inline constexpr uint32_t kClassConstructed = 0x20;
inline constexpr uint32_t kClassApplication = 0x40;
inline constexpr uint32_t kClassContextSpecific = 0x80;
inline constexpr uint32_t kClassPrivate = 0xC0;

// Deepest nesting accepted when parsing; card data never comes near it, and
// the limit keeps hostile input from exhausting the stack.
inline constexpr int kMaxNestingDepth = 32;

class ASN1Object {
public:
    // The tags and contents of a node.
    struct TaggedValue {
        uint32_t typeTag = 0;
        uint32_t classTag = 0;
        Botan::secure_vector<uint8_t> contents;
    };

    ASN1Object();
    ASN1Object(uint32_t classTag, uint32_t typeTag);
    ASN1Object(uint32_t classTag, uint32_t typeTag, const MW::Base::HexBinary* contents);
    virtual ~ASN1Object();

    ASN1Object(const ASN1Object&) = delete;
    ASN1Object& operator=(const ASN1Object&) = delete;

    // Makes the classes polymorphic for run-time type tests; does nothing.
    virtual void Dummy();

    // Decodes the first BER object of `data` into this node (tags, contents,
    // children). Bytes after the first object are ignored. Throws
    // Botan::Decoding_Error (or another Botan exception) on malformed input.
    void Parse(const MW::Base::HexBinary* data);

    // New buffer with the contents octets; the caller deletes it.
    MW::Base::HexBinary* GetValue() const;

    // The children in encoding order (still owned by this node).
    std::vector<ASN1Object*> GetChildren() const;

    // First child whose identifier octet equals `identifier`; 16 and 17 stand
    // for the constructed SEQUENCE (0x30) and SET (0x31). Null when none.
    ASN1Object* FindChild(uint8_t identifier) const;

    // Appends `child` (taking ownership) when this node may hold children;
    // otherwise the child is destroyed and nothing changes.
    void AddChild(ASN1Object* child);
    void AddChild(std::unique_ptr<ASN1Object> child);

    // New buffer with the DER encoding of this node and its subtree.
    MW::Base::HexBinary* GetEncoded() const;

    uint32_t GetTypeTag() const;
    uint32_t GetClassTag() const;
    const Botan::secure_vector<uint8_t>& Contents() const;
    ASN1Object* GetParent() const { return parent_; }
    bool HasChildren() const { return children_ != nullptr; }

    // True for the class tags that hold children when built by hand:
    // universal, application or context-specific constructed.
    static bool IsConstructedClass(uint32_t classTag);

protected:
    void SetTagged(uint32_t classTag, uint32_t typeTag, Botan::secure_vector<uint8_t> contents);
    Botan::secure_vector<uint8_t> EncodeDer() const;

private:
    void ParseChildren(int depth);

    std::unique_ptr<TaggedValue> value_;
    std::unique_ptr<std::vector<std::unique_ptr<ASN1Object>>> children_;
    ASN1Object* parent_ = nullptr;
};

// Destroys the held node (if any) and clears the holder.
void ReleaseAsn1Object(ASN1Object** holder);

}  // namespace Brelt::Crypto::ASN
