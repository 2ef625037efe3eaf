#include "Apdu.h"

#include <botan/mem_ops.h>

#include <cstring>
#include <new>

#include "LogTrace.h"

namespace Brelt::MW::Card {

namespace {

void WipeAndFree(std::unique_ptr<uint8_t[]>& data, size_t length)
{
    if (data && length > 0) Botan::secure_scrub_memory(data.get(), length);
    data.reset();
}

}  // namespace

ApduCommand::~ApduCommand()
{
    WipeAndFree(data, lc);
}

void ApduCommand::Clear()
{
    WipeAndFree(data, lc);
    cla = ins = p1 = p2 = 0;
    lc = le = expectedSw = 0;
    skip = 0;
}

ApduResponse::~ApduResponse()
{
    WipeAndFree(data, length);
}

void ApduResponse::Clear()
{
    WipeAndFree(data, length);
    sw = 0;
    length = 0;
}

void SetApdu(ApduCommand* command, uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, uint16_t le,
             uint16_t expectedSw)
{
    if (command == nullptr) return;
    command->Clear();
    command->cla = cla;
    command->ins = ins;
    command->p1 = p1;
    command->p2 = p2;
    command->le = le;
    command->expectedSw = expectedSw;
}

CK_RV SetApduData(ApduCommand* command, uint16_t length, const uint8_t* data, uint32_t copy)
{
    if (command == nullptr) {
        LogMessage(LOG_LEVEL_ERROR, true, "SetApduData", __LINE__, true, "%s", "Invalid arguments");
        return CKR_FUNCTION_FAILED;
    }
    if (command->data) WipeAndFree(command->data, command->lc);
    if (length == 0) {
        command->lc = 0;
        return CKR_OK;
    }
    if (copy != 0) {
        std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[length]());
        if (!bytes) return CKR_HOST_MEMORY;
        if (data != nullptr) std::memcpy(bytes.get(), data, length);
        command->data = std::move(bytes);
    } else {
        command->data.reset(const_cast<uint8_t*>(data));
    }
    command->lc = length;
    return CKR_OK;
}

void DeleteApduCommand(ApduCommand** holder)
{
    if (holder == nullptr) return;
    delete *holder;
    *holder = nullptr;
}

}  // namespace Brelt::MW::Card
