// Prints the contents of one file of a simulated card, for the client tests
// that compare what a PKCS#11 client reads with the card itself.
// Usage: attrs-card-file <personalisation> <path in hex, e.g. 3F0050154301>

#include <cardsim/Card.h>
#include <cardsim/Personalisations.h>

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <personalisation> <path>\n", argv[0]);
        return 2;
    }
    try {
        const auto card = cardsim::MakePersonalisation(argv[1]);
        const std::string hex = argv[2];
        cardsim::Bytes path;
        for (size_t i = 0; i + 1 < hex.size(); i += 2) path.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
        const auto contents = card->FileContents(path);
        if (!contents) {
            std::fprintf(stderr, "no file %s\n", argv[2]);
            return 1;
        }
        std::fwrite(contents->data(), 1, contents->size(), stdout);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
