#include "Dialogs/PinDialogLoader.h"

#include "Dialogs/ui/DisplayProbe.h"
#include "Logger.h"

#include <atomic>
#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <string>

static_assert(kPinDialogLogError == LOG_LEVEL_ERROR && kPinDialogLogDebug == LOG_LEVEL_DEBUG,
              "the dialog library logs with the module's levels");

namespace {

std::mutex g_loadMutex;
std::atomic<const PinDialogTable*> g_table{nullptr};
std::atomic<PinDialogLibraryEntry> g_linkedEntry{nullptr};

void LogForLibrary(int level, const char* function, int line, const char* text)
{
    LogMessage(level, true, function, line, true, "%s", text != nullptr ? text : "");
}

const PinDialogHost kHost{kPinDialogLibraryVersion, LogForLibrary};

// A host that runs Qt itself may show windows where the environment alone
// does not tell (a -platform argument); the library's own checks decide.
bool HostRunsQt()
{
    void* qt = ::dlopen("libQt6Core.so.6", RTLD_LAZY | RTLD_NOLOAD);
    if (qt == nullptr)
        return false;
    ::dlclose(qt);
    return true;
}

// The dialog library in the folder of the module's real file (a symbolic
// link to the module leads to the folder of its target); empty when the
// module's own file cannot be named.
std::string LibraryPath()
{
    Dl_info info{};
    if (::dladdr(reinterpret_cast<void*>(&LoadPinDialogs), &info) == 0 || info.dli_fname == nullptr)
        return std::string();
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(info.dli_fname, nullptr), &std::free);
    if (!real)
        return std::string();
    std::string path = real.get();
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    path.resize(slash + 1);
    return path + kPinDialogLibraryFile;
}

PinDialogLibraryEntry OpenLibrary(const char* function)
{
    const std::string path = LibraryPath();
    if (path.empty()) {
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "%s",
                   "cannot find the folder of the module for the PIN dialog library");
        return nullptr;
    }
    // Never unloaded: its threads and Qt's registrations live as long as the process.
    void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    if (library == nullptr) {
        const char* why = ::dlerror();
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "cannot load the PIN dialog library: %s",
                   why != nullptr ? why : path.c_str());
        return nullptr;
    }
    auto entry = reinterpret_cast<PinDialogLibraryEntry>(::dlsym(library, kPinDialogLibraryEntry));
    if (entry == nullptr)
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "%s is not a PIN dialog library", path.c_str());
    return entry;
}

}  // namespace

const PinDialogTable* LoadPinDialogs(const char* function)
{
    if (const PinDialogTable* table = g_table.load(std::memory_order_acquire))
        return table;
    if (!HostRunsQt() && !ChooseDisplayPlatform()) {
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "%s", "no display for the PIN dialog");
        return nullptr;
    }
    std::lock_guard lock(g_loadMutex);
    if (const PinDialogTable* table = g_table.load(std::memory_order_acquire))
        return table;
    PinDialogLibraryEntry entry = g_linkedEntry.load();
    if (entry == nullptr)
        entry = OpenLibrary(function);
    if (entry == nullptr)
        return nullptr;
    const PinDialogTable* table = entry(kPinDialogLibraryVersion, &kHost);
    if (table == nullptr || table->version != kPinDialogLibraryVersion || table->size < sizeof(PinDialogTable)) {
        LogMessage(LOG_LEVEL_ERROR, true, function, __LINE__, true, "%s",
                   "the PIN dialog library does not match this module");
        return nullptr;
    }
    g_table.store(table, std::memory_order_release);
    return table;
}

namespace PinDialogLoaderTesting {

void UseLinkedEntry(PinDialogLibraryEntry entry)
{
    g_linkedEntry = entry;
}

}  // namespace PinDialogLoaderTesting
