// Parsing of the CARDSIM_CARDS reader setting.
#include <cardsim/Readers.h>

#include <cstdio>
#include <stdexcept>

namespace cardsim {

namespace {

std::string Trimmed(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::vector<std::string> SplitAtCommas(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

std::string NumberedReaderName(size_t index)
{
    char name[48];
    std::snprintf(name, sizeof name, "Simulated Reader %02zu", index);
    return name;
}

}  // namespace

std::vector<ReaderSetting> ParseCardsSetting(const std::string& setting)
{
    std::vector<ReaderSetting> readers;
    if (Trimmed(setting).empty()) {
        return readers;  // set but empty: no readers at all
    }
    const std::vector<std::string> entries = SplitAtCommas(setting);
    for (size_t i = 0; i < entries.size(); ++i) {
        const std::string& entry = entries[i];
        const size_t at = entry.find('@');
        ReaderSetting reader;
        reader.personalisation = Trimmed(entry.substr(0, at));
        if (at == std::string::npos) {
            if (reader.personalisation.empty()) {
                throw std::invalid_argument("entry " + std::to_string(i + 1) + " is empty");
            }
            reader.reader = NumberedReaderName(i);
        } else {
            reader.reader = Trimmed(entry.substr(at + 1));
            if (reader.reader.empty()) {
                throw std::invalid_argument("entry " + std::to_string(i + 1) +
                                            " has no reader name after '@'");
            }
        }
        if (reader.reader.size() > kMaxReaderNameLength) {
            throw std::invalid_argument("reader name longer than 127 bytes: " + reader.reader);
        }
        for (const ReaderSetting& earlier : readers) {
            if (earlier.reader == reader.reader) {
                throw std::invalid_argument("reader \"" + reader.reader + "\" named twice");
            }
        }
        if (reader.reader.rfind(kPinPadReaderPrefix, 0) == 0) {
            reader.pinPad = PinPad::Direct;
        }
        readers.push_back(std::move(reader));
    }
    if (readers.size() > kMaxReaderSet) {
        throw std::invalid_argument("more than 32 readers");
    }
    return readers;
}

}  // namespace cardsim
