// Hosts in which no dialog can be shown: the operations fail with
// CKR_FUNCTION_FAILED instead of letting Qt abort the process.
//   no-display: no QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY (or a dead DISPLAY)
//   gui-only:   the host runs a QGuiApplication, which cannot show widgets

#include "BaseTypes.h"
#include "Dialogs/ui/PinDialogScript.h"
#include "Dialogs/ui/VirtualKeyboard.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <vector>

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

// With scripted answers installed no window and no display is needed.
void ScriptedAnswersNeedNoDisplay()
{
    auto script = std::make_shared<QueuedPinDialogScript>();
    script->AddPin("1234");
    script->AddInvalidPinAnswer(CKR_OK);
    SetPinDialogScript(script);
    {
        VirtualKeyboard vk("SK", 3);
        Brelt::MW::Base::HexBinary* pin = nullptr;
        Expect(vk.ShowVirtKeyDialog(nullptr, &pin) == CKR_OK, "scripted PIN");
        Expect(pin && pin->length == 4 && std::memcmp(pin->data, "1234", 4) == 0, "scripted digits");
        delete pin;
        Expect(vk.ShowInvalidPinDialog() == CKR_OK, "scripted re-enter");
        Expect(vk.ShowVirtKeyDialog(nullptr, &pin) == CKR_FUNCTION_CANCELED && pin == nullptr,
               "empty script cancels");
        Expect(vk.ShowPinLengthErrDialog(1) == CKR_OK, "scripted length notice");
        Expect(vk.ShowPinPadDialog(nullptr, 3) == CKR_OK && vk.ClosePinPadDialog() == CKR_OK, "scripted pad");
    }
    const std::vector<std::string> expected{"keyboard(3)", "invalid(3,-1)", "keyboard(3)", "length(1)",
                                            "pinpad(3)", "pinpad-closed"};
    Expect(script->Events() == expected, "scripted events in order");
    SetPinDialogScript(nullptr);
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
        ScriptedAnswersNeedNoDisplay();
    }
    std::printf("%s: %s\n", mode, failures == 0 ? "passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}
