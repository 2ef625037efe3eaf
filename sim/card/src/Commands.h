// Command handlers, one family per source file.
#pragma once

#include "Apdu.h"
#include "CardState.h"

namespace cardsim::detail {

struct Response {
    Bytes data;
    uint16_t sw = sw::kOk;
};

inline Response Error(uint16_t status)
{
    return {{}, status};
}

Response Execute(CardState& state, const Command& cmd);

// SelectCommand.cpp
Response Select(CardState& state, const Command& cmd);
// DataAccessCommands.cpp
Response ReadBinary(CardState& state, const Command& cmd);
Response UpdateBinary(CardState& state, const Command& cmd);
Response ReadRecord(CardState& state, const Command& cmd);
// GetDataCommand.cpp
Response GetData(CardState& state, const Command& cmd);
// PinCommands.cpp
Response Verify(CardState& state, const Command& cmd);
Response ChangeReferenceData(CardState& state, const Command& cmd);
Response ResetRetryCounter(CardState& state, const Command& cmd);
// CryptoCommands.cpp
Response ManageSecurityEnvironment(CardState& state, const Command& cmd);
Response PerformSecurityOperation(CardState& state, const Command& cmd);
Response GetChallenge(CardState& state, const Command& cmd);
Response GenerateKeyPair(CardState& state, const Command& cmd);
// ApplicationContainer.cpp: EXTERNAL / MUTUAL AUTHENTICATE with key 95
extern const Bytes kApplicationContainerAid;
inline constexpr uint8_t kApplicationContainerKeyReference = 0x95;
Response Authenticate(CardState& state, const Command& cmd);
// AdminCommands.cpp
Response ListFiles(CardState& state, const Command& cmd);
Response ChangeLifeCycle(CardState& state, const Command& cmd);
Response CreateFile(CardState& state, const Command& cmd);
Response DeleteFile(CardState& state, const Command& cmd);
Response DeactivateFile(CardState& state, const Command& cmd);
Response PutData(CardState& state, const Command& cmd);
Response CardTransaction(CardState& state, const Command& cmd);

}  // namespace cardsim::detail
