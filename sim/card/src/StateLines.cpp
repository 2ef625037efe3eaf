// The card's persistent state as text lines, so that tests can tell whether
// anything on the card changed between two moments.
#include <cardsim/Card.h>

#include "Apdu.h"
#include "CardState.h"

#include <botan/bigint.h>

#include <cstdio>

namespace cardsim {

namespace {

std::string Hex(const Bytes& bytes)
{
    std::string text;
    char digits[3];
    for (const uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    return text;
}

void FileLines(const detail::File& file, std::vector<std::string>& lines)
{
    const std::string path = Hex(file.Path());
    const std::string flags = file.deactivated ? " deactivated" : "";
    switch (file.type) {
    case detail::FileType::Df:
        lines.push_back(path + " DF " + Hex(file.aid) + flags);
        for (const auto& key : file.keys) {
            const Bytes modulus = key.key ? Botan::BigInt::encode(key.key->get_n()) : Bytes{};
            lines.push_back(path + " key " + Hex({key.reference}) + " " + Hex(modulus));
        }
        break;
    case detail::FileType::Transparent:
        lines.push_back(path + " EF " + Hex(file.data) + flags);
        break;
    case detail::FileType::Record:
        for (size_t i = 0; i < file.records.size(); ++i)
            lines.push_back(path + " record " + std::to_string(i + 1) + " " + Hex(file.records[i]) + flags);
        if (file.records.empty())
            lines.push_back(path + " no records" + flags);
        break;
    }
    for (const auto& child : file.children)
        FileLines(*child, lines);
}

}  // namespace

std::size_t ExpectedLength(const Bytes& apdu)
{
    const auto command = detail::ParseCommand(apdu);
    return command ? command->ne : 0;
}

std::vector<std::string> Card::StateLines() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    lines.push_back("life cycle " + Hex({state_->lifeCycle}));
    for (const auto& pin : state_->pins) {
        lines.push_back("PIN " + Hex({pin.reference}) + " " + Hex(pin.value) + " tries " +
                        std::to_string(pin.retriesLeft) + "/" + std::to_string(pin.retryMax) +
                        (pin.usable ? "" : " unusable"));
    }
    for (const auto& [tag, value] : state_->dataObjects)
        lines.push_back("data object " + Hex({tag}) + " " + Hex(value));
    if (state_->mf)
        FileLines(*state_->mf, lines);
    return lines;
}

}  // namespace cardsim
