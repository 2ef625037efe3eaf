#include "card/CardApplications.h"

#include <mutex>
#include <utility>

namespace Brelt::MW::Card {
namespace {

// Knows no application: every card is given up, the table stays empty.
class NoCardApplications final : public CardApplications {
 public:
  CK_RV LoadReaderApplications(const std::string&, Slot&, std::vector<SlotPtr>&, bool& ownApplication) override {
    ownApplication = false;
    return CKR_OK;
  }
  void InvalidateApplicationInfo(CK_SLOT_ID) override {}
  void RemoveAllInvalidApplications() override {}
  CK_RV GetApplicationFacts(CK_SLOT_ID, std::optional<ApplicationFacts>& facts) override {
    facts.reset();
    return CKR_OK;
  }
  CK_RV GetTokenInfoEF(const Slot&, CK_TOKEN_INFO*) override { return CKR_FUNCTION_FAILED; }
  CK_RV ReadCardAccess(Slot&, std::vector<uint8_t>&) override { return CKR_FUNCTION_FAILED; }
  void ApplyCardAccessPinLength(CK_SLOT_ID, const std::vector<uint8_t>&) override {}
};

struct Installed {
  std::mutex mutex;
  std::shared_ptr<CardApplications> applications;
};

// Never destroyed: the unload hook may still reach it after static destructors.
Installed& TheInstalled() {
  static Installed& installed = *new Installed;
  return installed;
}

}  // namespace

std::shared_ptr<CardApplications> Applications() {
  Installed& installed = TheInstalled();
  std::lock_guard lock(installed.mutex);
  if (!installed.applications) installed.applications = std::make_shared<NoCardApplications>();
  return installed.applications;
}

void InstallCardApplications(std::shared_ptr<CardApplications> applications) {
  Installed& installed = TheInstalled();
  std::shared_ptr<CardApplications> previous;
  std::lock_guard lock(installed.mutex);
  previous = std::exchange(installed.applications, std::move(applications));
}

}  // namespace Brelt::MW::Card
