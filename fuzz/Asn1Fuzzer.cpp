// Parses arbitrary bytes as an ASN.1 tree, reads every typed value and checks
// that the DER encoding of the tree parses back to the same encoding.
#include <botan/exceptn.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "ASN1Object.h"
#include "ASN1Types.h"

using namespace Brelt::Crypto::ASN;
using Brelt::MW::Base::HexBinary;

namespace {

void ReadValues(const ASN1Object& node)
{
    try {
        if (auto* n = dynamic_cast<const ASN1Integer*>(&node)) n->GetUInt();
    } catch (const char*) {
    }
    try {
        if (auto* n = dynamic_cast<const ASN1ObjectIdentifier*>(&node)) n->GetValue();
        if (auto* n = dynamic_cast<const ASN1String*>(&node)) n->GetValue();
        if (auto* n = dynamic_cast<const ASN1Boolean*>(&node)) n->GetValue();
        if (auto* n = dynamic_cast<const ASN1OctetString*>(&node)) delete n->GetValue();
        if (auto* n = dynamic_cast<const ASN1BitString*>(&node)) delete n->GetValue();
    } catch (const Botan::Exception&) {
    }
    delete node.GetValue();
    for (const ASN1Object* child : node.GetChildren()) {
        if (child->GetParent() != &node) abort();
        node.FindChild(static_cast<uint8_t>(child->GetTypeTag() + child->GetClassTag()));
        ReadValues(*child);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 1 << 20) return 0;
    HexBinary input(data, static_cast<int>(size), true);
    ASN1Object root;
    try {
        root.Parse(&input);
    } catch (const Botan::Exception&) {
        return 0;
    }
    ReadValues(root);

    std::unique_ptr<HexBinary> encoded;
    try {
        encoded.reset(root.GetEncoded());
    } catch (const Botan::Exception&) {
        return 0;  // e.g. the no-object marker of empty input
    }
    // DER of a parsed tree must parse again and encode identically.
    ASN1Object again;
    again.Parse(encoded.get());
    std::unique_ptr<HexBinary> reencoded(again.GetEncoded());
    if (!reencoded->Equals(encoded.get())) abort();
    return 0;
}
