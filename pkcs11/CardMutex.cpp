#include "pkcs11/CardMutex.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include "Logger.h"

namespace Brelt::MW::Pkcs11 {
namespace {

constexpr const char* kName = "eID_mutex";
constexpr const char* kDefaultFolder = "/dev/shm";

struct FolderSetting {
  std::mutex mutex;
  std::string folder = kDefaultFolder;
};

FolderSetting& Folder() {
  static FolderSetting& setting = *new FolderSetting;
  return setting;
}

void LogUnusable(const std::string& path, const char* reason) {
  LogMessage(LOG_LEVEL_ERROR, true, "CardMutex::Open", __LINE__, true,
             "Cannot use named mutex %s (%s), going on without it: %s", kName, path.c_str(), reason);
}

// Closes a descriptor when the scope ends.
struct FileDescriptor {
  int fd = -1;
  ~FileDescriptor() {
    if (fd >= 0) ::close(fd);
  }
};

// Creates the mutex file the way the C library creates a named semaphore:
// an initialised semaphore is written to a private temporary file, which is
// then linked under the final name, so no process ever maps a half-written
// file. EEXIST when another process was first (the caller opens theirs).
int CreateFile(const std::string& path) {
  std::string temporary = path + ".XXXXXX";
  FileDescriptor file{::mkostemp(temporary.data(), O_CLOEXEC)};
  if (file.fd < 0) return errno;
  sem_t initial;
  std::memset(&initial, 0, sizeof initial);
  int rv = 0;
  if (::sem_init(&initial, 1, 1) != 0 || ::fchmod(file.fd, 0600) != 0 ||
      ::write(file.fd, &initial, sizeof initial) != static_cast<ssize_t>(sizeof initial))
    rv = errno != 0 ? errno : EIO;
  if (rv == 0 && ::link(temporary.c_str(), path.c_str()) != 0) rv = errno;
  ::unlink(temporary.c_str());
  return rv;
}

}  // namespace

void CardMutex::SetFolderForTesting(std::string folder) {
  FolderSetting& setting = Folder();
  std::lock_guard lock(setting.mutex);
  setting.folder = folder.empty() ? kDefaultFolder : std::move(folder);
}

std::string CardMutex::Path() {
  FolderSetting& setting = Folder();
  std::lock_guard lock(setting.mutex);
  return setting.folder + "/sem." + kName + "." + std::to_string(::geteuid());
}

std::unique_ptr<CardMutex> CardMutex::OpenForUser(std::chrono::milliseconds staleAfter) {
  const std::string path = Path();
  std::unique_ptr<CardMutex> mutex = Open(path);
  if (mutex && mutex->Wait(staleAfter)) {
    mutex->Give();
    return mutex;
  }
  // Taken for good, or not usable: a fresh one. Another user's file cannot
  // be removed from the sticky folder, and is then refused again.
  mutex.reset();
  ::unlink(path.c_str());
  return Open(path);
}

std::unique_ptr<CardMutex> CardMutex::Open(const std::string& path) {
  FileDescriptor file{::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK)};
  if (file.fd < 0 && errno == ENOENT) {
    const int created = CreateFile(path);
    if (created != 0 && created != EEXIST) {
      LogUnusable(path, std::strerror(created));
      return nullptr;
    }
    file.fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  }
  if (file.fd < 0) {
    LogUnusable(path, errno == ELOOP ? "a symbolic link" : std::strerror(errno));
    return nullptr;
  }
  // Checked on the open file itself, so that nothing can be swapped in
  // between the check and the mapping.
  struct stat status {};
  if (::fstat(file.fd, &status) != 0) {
    LogUnusable(path, std::strerror(errno));
    return nullptr;
  }
  if (!S_ISREG(status.st_mode)) {
    LogUnusable(path, "not a regular file");
    return nullptr;
  }
  if (status.st_uid != ::geteuid()) {
    LogUnusable(path, "owned by another user");
    return nullptr;
  }
  // A shorter file would fault the process on its first use.
  if (status.st_size != static_cast<off_t>(sizeof(sem_t))) {
    LogUnusable(path, "not the size of a semaphore");
    return nullptr;
  }
  if ((status.st_mode & 077) != 0) ::fchmod(file.fd, 0600);
  void* mapped = ::mmap(nullptr, sizeof(sem_t), PROT_READ | PROT_WRITE, MAP_SHARED, file.fd, 0);
  if (mapped == MAP_FAILED) {
    LogUnusable(path, std::strerror(errno));
    return nullptr;
  }
  return std::unique_ptr<CardMutex>(new CardMutex(static_cast<sem_t*>(mapped)));
}

CardMutex::~CardMutex() { ::munmap(semaphore_, sizeof(sem_t)); }

bool CardMutex::Wait(std::chrono::milliseconds wait) {
  timespec deadline{};
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  const auto total = std::chrono::nanoseconds(deadline.tv_nsec) + wait;
  deadline.tv_sec += static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(total).count());
  deadline.tv_nsec = static_cast<long>((total % std::chrono::seconds(1)).count());
  int rv = 0;
  do {
    rv = ::sem_clockwait(semaphore_, CLOCK_MONOTONIC, &deadline);
  } while (rv != 0 && errno == EINTR);
  return rv == 0;
}

bool CardMutex::Take(std::chrono::milliseconds wait) {
  if (Wait(wait)) return true;
  if (errno == ETIMEDOUT)
    LogMessage(LOG_LEVEL_ERROR, true, "EstablishCardContext", __LINE__, true,
               "Named mutex %s still held by another process, going on without it", kName);
  else
    LogMessage(LOG_LEVEL_ERROR, true, "EstablishCardContext", __LINE__, true,
               "Cannot use named mutex %s, going on without it: %s", kName, std::strerror(errno));
  return false;
}

bool CardMutex::PassThrough(std::chrono::milliseconds wait) {
  if (!Take(wait)) return false;
  Give();
  return true;
}

bool CardMutex::TryTake() { return ::sem_trywait(semaphore_) == 0; }

bool CardMutex::InTurn() const {
  const int64_t start = turnStart_.load();
  if (start == 0) return false;
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return now - start < std::chrono::duration_cast<std::chrono::steady_clock::duration>(kTurnLength).count();
}

void CardMutex::StartTurn() { turnStart_.store(std::chrono::steady_clock::now().time_since_epoch().count()); }

void CardMutex::Give() { ::sem_post(semaphore_); }

}  // namespace Brelt::MW::Pkcs11
