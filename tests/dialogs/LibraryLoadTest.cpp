// The simulator-backed module as a host loads it, in a program without Qt:
// loading it and reading the card bring no Qt into the process, and the
// dialog library next to the module comes in only when a dialog can appear.
//   no-display      no display: logins without a PIN fail on the keyboard and
//                   go through on the PIN pad, and the library never loads
//   pin-pad         a display: the PIN-pad notice loads the library once
//   missing-library the module copied alone into an empty folder: the
//                   keyboard answers CKR_FUNCTION_FAILED and the log says why
// Usage: dialogs_library_load_test MODE <libbrelt-pkcs11-sim.so>

#include <dlfcn.h>
#include <p11-kit/pkcs11.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

int failures = 0;

void Expect(bool ok, const std::string& what)
{
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what.c_str());
        ++failures;
    }
}

std::string FileText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool Mapped(const char* name)
{
    return FileText("/proc/self/maps").find(name) != std::string::npos;
}

// The slot whose reader name starts with `reader`.
bool FindSlot(CK_FUNCTION_LIST* p11, const char* reader, CK_SLOT_ID& slot)
{
    CK_ULONG count = 0;
    if (p11->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK)
        return false;
    std::vector<CK_SLOT_ID> slots(count);
    if (count == 0 || p11->C_GetSlotList(CK_TRUE, slots.data(), &count) != CKR_OK)
        return false;
    for (CK_SLOT_ID id : slots) {
        CK_SLOT_INFO info;
        if (p11->C_GetSlotInfo(id, &info) == CKR_OK &&
            std::strncmp(reinterpret_cast<const char*>(info.slotDescription), reader, std::strlen(reader)) == 0) {
            slot = id;
            return true;
        }
    }
    return false;
}

// C_Login without a PIN: the keyboard or the PIN pad asks for it.
CK_RV LoginWithoutPin(CK_FUNCTION_LIST* p11, const char* reader)
{
    CK_SLOT_ID slot = 0;
    if (!FindSlot(p11, reader, slot))
        return CKR_SLOT_ID_INVALID;
    CK_SESSION_HANDLE session = 0;
    CK_RV rv = p11->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session);
    if (rv != CKR_OK)
        return rv;
    rv = p11->C_Login(session, CKU_USER, nullptr, 0);
    p11->C_CloseSession(session);
    return rv;
}

// Qt runs its threads detached: the dialogs' event loop is joined to the end
// of its work, and the thread's last clean-up inside Qt follows. The leak
// check at exit must not find that clean-up half done. (Qt names the thread
// after its class.)
void WaitForTheEventLoopThreadToEnd()
{
    auto running = [] {
        for (const auto& task : std::filesystem::directory_iterator("/proc/self/task"))
            if (FileText((task.path() / "comm").string()) == "EventLoop\n")
                return true;
        return false;
    };
    for (int i = 0; i < 1000 && running(); ++i)
        ::usleep(10 * 1000);
}

CK_FUNCTION_LIST* Load(const std::string& module)
{
    void* library = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "cannot load %s: %s\n", module.c_str(), ::dlerror());
        std::exit(2);
    }
    auto get = reinterpret_cast<CK_C_GetFunctionList>(::dlsym(library, "C_GetFunctionList"));
    CK_FUNCTION_LIST* p11 = nullptr;
    if (get == nullptr || get(&p11) != CKR_OK || p11->C_Initialize(nullptr) != CKR_OK) {
        std::fprintf(stderr, "%s does not initialise\n", module.c_str());
        std::exit(2);
    }
    return p11;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const std::string mode = argv[1];
    std::string module = argv[2];
    const std::filesystem::path work = std::filesystem::temp_directory_path() /
                                       ("dialogs_library_load_" + std::to_string(::getpid()));
    std::filesystem::create_directories(work);
    const std::string log = (work / "pkcs11.log").string();
    ::setenv("COPYRIGHT_BRELT_PKCS11_P", log.c_str(), 1);
    ::setenv("COPYRIGHT_BRELT_PKCS11_L", "1", 1);
    ::unsetenv("BRELT_PKCS11_LOG_PATH");
    ::unsetenv("BRELT_PKCS11_LOG_LEVEL");
    if (mode == "missing-library") {
        const std::filesystem::path alone = work / std::filesystem::path(module).filename();
        std::filesystem::copy_file(module, alone);
        module = alone.string();
    }

    CK_FUNCTION_LIST* p11 = Load(module);
    Expect(!Mapped("libQt6"), "loading and reading the card brought Qt in");
    Expect(!Mapped("libbrelt-pkcs11-dialogs"), "the dialog library came without a dialog");

    if (mode == "no-display") {
        Expect(LoginWithoutPin(p11, "Simulated") == CKR_FUNCTION_FAILED, "the keyboard fails without a display");
        Expect(LoginWithoutPin(p11, "PIN pad") == CKR_OK, "the PIN pad logs in without a notice");
        Expect(!Mapped("libbrelt-pkcs11-dialogs") && !Mapped("libQt6"), "no display, yet the dialogs were loaded");
        Expect(FileText(log).find("no display for the PIN dialog") != std::string::npos, "no log line");
    } else if (mode == "pin-pad") {
        Expect(LoginWithoutPin(p11, "PIN pad") == CKR_OK, "PIN-pad login");
        Expect(Mapped("libbrelt-pkcs11-dialogs"), "the notice did not load the dialog library");
        Expect(LoginWithoutPin(p11, "PIN pad") == CKR_OK, "second PIN-pad login on the loaded library");
    } else if (mode == "missing-library") {
        Expect(LoginWithoutPin(p11, "Simulated") == CKR_FUNCTION_FAILED, "the keyboard fails without the library");
        Expect(FileText(log).find("cannot load the PIN dialog library") != std::string::npos, "no log line");
    } else {
        return 2;
    }
    p11->C_Finalize(nullptr);
    WaitForTheEventLoopThreadToEnd();
    std::filesystem::remove_all(work);
    std::printf("%s: %s\n", mode.c_str(), failures == 0 ? "passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}
