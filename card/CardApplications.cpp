#include "card/CardApplications.h"

#include <mutex>
#include <utility>

#include "card/TokenCardApplications.h"

namespace Brelt::MW::Card {
namespace {

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
  if (!installed.applications) installed.applications = MakeTokenCardApplications();
  return installed.applications;
}

void InstallCardApplications(std::shared_ptr<CardApplications> applications) {
  Installed& installed = TheInstalled();
  std::shared_ptr<CardApplications> previous;
  std::lock_guard lock(installed.mutex);
  previous = std::exchange(installed.applications, std::move(applications));
}

}  // namespace Brelt::MW::Card
