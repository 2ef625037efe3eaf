// Round trips of the structures found on the simulated cards: directory
// files, CIA files and certificates. With BRELT_ASN1_SEED_DIR set, every
// structure is also written there as a seed for the fuzzers.
#include <gtest/gtest.h>

#include <cardsim/Card.h>
#include <cardsim/Personalisations.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "ASN1Object.h"
#include "Ber.h"

using namespace Brelt::Crypto::ASN;
using Brelt::MW::Base::HexBinary;

namespace {

using Bytes = std::vector<uint8_t>;

// Transparent and record EFs in the MF and in the PKCS#15 DF.
std::vector<Bytes> FilesOf(const cardsim::Card& card)
{
    std::vector<Bytes> files;
    const Bytes dfs[] = {{}, {0x50, 0x15}};
    for (const Bytes& df : dfs) {
        for (uint32_t fid = 0x2F00; fid <= 0x5FFF; ++fid) {
            if (fid == 0x3F00) continue;
            Bytes path = df;
            path.insert(path.end(), {uint8_t(fid >> 8), uint8_t(fid)});
            if (auto contents = card.FileContents(path)) files.push_back(*contents);
            if (auto records = card.Records(path)) files.insert(files.end(), records->begin(), records->end());
        }
    }
    return files;
}

// The top-level TLVs of a file, up to the first padding byte.
std::vector<Bytes> ObjectsIn(const Bytes& file)
{
    std::vector<Bytes> objects;
    size_t pos = 0;
    while (pos < file.size() && file[pos] != 0x00 && file[pos] != 0xFF) {
        HexBinary rest(file.data() + pos, int(file.size() - pos), true);
        const size_t size = Brelt::Crypto::Ber::GetTagLength(&rest) + Brelt::Crypto::Ber::GetLengthFieldSize(&rest) +
                            Brelt::Crypto::Ber::GetValueLength(&rest);
        if (pos + size > file.size()) break;
        objects.emplace_back(file.begin() + pos, file.begin() + pos + size);
        pos += size;
    }
    return objects;
}

}  // namespace

TEST(SimulatedCardFiles, StructuresRoundTrip)
{
    const char* seedDir = std::getenv("BRELT_ASN1_SEED_DIR");
    std::set<Bytes> seen;
    size_t constructed = 0;
    for (const std::string& name : cardsim::PersonalisationNames()) {
        const std::unique_ptr<cardsim::Card> card = cardsim::MakePersonalisation(name);
        for (const Bytes& file : FilesOf(*card)) {
            std::vector<Bytes> objects;
            try {
                objects = ObjectsIn(file);
            } catch (const Brelt::MW::Base::MWException&) {
                continue;  // not BER (plain data files of broken cards)
            }
            for (const Bytes& object : objects) {
                if (!seen.insert(object).second || (object[0] & 0x20) == 0) continue;
                ++constructed;
                HexBinary input(object.data(), int(object.size()), true);
                ASN1Object root;
                ASSERT_NO_THROW(root.Parse(&input)) << name << " " << input.ToString();
                std::unique_ptr<HexBinary> encoded(root.GetEncoded());
                EXPECT_EQ(encoded->ToString(), input.ToString()) << name;
                if (seedDir != nullptr) {
                    std::ofstream(std::string(seedDir) + "/sim-" + std::to_string(seen.size()) + ".der",
                                  std::ios::binary)
                        .write(reinterpret_cast<const char*>(object.data()), std::streamsize(object.size()));
                }
            }
        }
    }
    EXPECT_GT(constructed, 20u);
}
