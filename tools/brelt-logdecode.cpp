// Turns an enciphered trace log back into its text, record by record, for
// support staff. Usage: brelt-logdecode LOGFILE [OUTPUT]
// Writes the text to OUTPUT (or standard output). A damaged record stops
// the decoding with a message naming its offset; what came before it is
// still written.

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "EncipheredLogReader.h"

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: " << (argc > 0 ? argv[0] : "brelt-logdecode") << " LOGFILE [OUTPUT]\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "cannot open " << argv[1] << "\n";
        return 2;
    }
    const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    std::ofstream outFile;
    if (argc == 3) {
        outFile.open(argv[2], std::ios::binary | std::ios::trunc);
        if (!outFile) {
            std::cerr << "cannot write " << argv[2] << "\n";
            return 2;
        }
    }
    std::ostream& out = argc == 3 ? static_cast<std::ostream&>(outFile) : std::cout;

    const Brelt::Crypto::LogDecodeResult result = Brelt::Crypto::DecipherLogRecords(file);
    for (const auto& record : result.records)
        out << record;
    out.flush();
    if (!result.complete) {
        std::cerr << "stopped after " << result.records.size() << " records at offset " << result.failedOffset
                  << ": " << result.error << "\n";
        return 1;
    }
    return 0;
}
