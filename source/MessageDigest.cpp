#include "MessageDigest.h"

#include <botan/filters.h>
#include <botan/pipe.h>

#include <stdexcept>

#include "CryptoBytes.h"

namespace Brelt::Crypto {

MessageDigest::MessageDigest() : MessageDigest("SHA-1") {}

MessageDigest::MessageDigest(const std::string& hashName)
    : hashName_(hashName), pipe_(std::make_unique<Botan::Pipe>(new Botan::Hash_Filter(hashName)))
{
}

MessageDigest::~MessageDigest() = default;

std::unique_ptr<Brelt::MW::Base::HexBinary> MessageDigest::Digest(const Brelt::MW::Base::HexBinary* data) const
{
    if (data == nullptr)
        throw std::invalid_argument("MessageDigest: null data");
    const auto input = BytesOf(data);
    Botan::Pipe pipe(new Botan::Hash_Filter(hashName_));
    pipe.process_msg(input.data(), input.size());
    return MakeHexBinary(pipe.read_all(0));
}

void MessageDigest::Start()
{
    // Drop any unread output of earlier messages before opening a new one.
    while (pipe_->message_count() > pipe_->default_msg() && pipe_->remaining(Botan::Pipe::DEFAULT_MESSAGE) > 0) {
        const auto discarded = pipe_->read_all(Botan::Pipe::DEFAULT_MESSAGE);
        (void)discarded;
    }
    pipe_->start_msg();
}

void MessageDigest::Update(const unsigned char* bytes, uint32_t length)
{
    if (length == 0)
        return;
    if (bytes == nullptr)
        throw std::invalid_argument("MessageDigest: null data");
    pipe_->write(bytes, length);
}

std::unique_ptr<Brelt::MW::Base::HexBinary> MessageDigest::Final()
{
    pipe_->end_msg();
    return MakeHexBinary(pipe_->read_all(0));
}

}  // namespace Brelt::Crypto
