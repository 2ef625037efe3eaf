#include "Commands.h"
namespace cardsim::detail {
Response ReadBinary(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response UpdateBinary(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response ReadRecord(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response GetData(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response Verify(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response ChangeReferenceData(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response ResetRetryCounter(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response ManageSecurityEnvironment(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response PerformSecurityOperation(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response GetChallenge(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response GenerateKeyPair(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response ListFiles(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response ChangeLifeCycle(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response CreateFile(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response DeleteFile(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response DeactivateFile(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response PutData(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
Response CardTransaction(CardState&, const Command&) { return Error(sw::kInsNotSupported); }
}  // namespace cardsim::detail
