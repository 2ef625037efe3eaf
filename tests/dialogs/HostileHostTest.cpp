// Hosts in which no dialog can be shown: the operations fail with
// CKR_FUNCTION_FAILED instead of letting Qt abort the process.
//   no-display: no QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY (or a dead DISPLAY)
//   gui-only:   the host runs a QGuiApplication, which cannot show widgets

#include "BaseTypes.h"
#include "Dialogs/ui/VirtualKeyboard.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstring>
#include <future>

namespace {

int failures = 0;

void Expect(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

void AllDialogsFail()
{
    VirtualKeyboard vk("SK", 3);
    vk.SetMinMaxPinLength(4, 8);
    Brelt::MW::Base::HexBinary* pin = reinterpret_cast<Brelt::MW::Base::HexBinary*>(0x1);
    Expect(vk.ShowVirtKeyDialog(nullptr, &pin) == CKR_FUNCTION_FAILED, "keyboard fails");
    Expect(pin == nullptr, "no PIN");
    Expect(vk.ShowInvalidPinDialog() == CKR_FUNCTION_FAILED, "wrong-PIN dialog fails");
    Expect(vk.ShowPinBlockedDialog() == CKR_FUNCTION_FAILED, "blocked dialog fails");
    Expect(vk.ShowPinPadDialog(nullptr, 3) == CKR_FUNCTION_FAILED, "PIN-pad notice fails");
    Expect(vk.ClosePinPadDialog() == CKR_OK, "closing nothing");
}

}  // namespace

int main(int argc, char** argv)
{
    const char* mode = argc > 1 ? argv[1] : "no-display";
    if (std::strcmp(mode, "gui-only") == 0) {
        QGuiApplication app(argc, argv);
        // From the GUI thread and from another one.
        AllDialogsFail();
        std::async(std::launch::async, AllDialogsFail).get();
    } else {
        AllDialogsFail();
        std::async(std::launch::async, AllDialogsFail).get();
    }
    std::printf("%s: %s\n", mode, failures == 0 ? "passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}
