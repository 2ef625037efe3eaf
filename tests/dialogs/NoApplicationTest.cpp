// The facade in a host without any Qt application: each modal dialog brings
// its own application on the calling thread, the PIN-pad notice runs on the
// module's EventLoop thread, and nothing of Qt stays behind.

#include "BaseTypes.h"
#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/PinErrorDialog.h"
#include "Dialogs/ui/PinPadRequestDialog.h"
#include "Dialogs/ui/VirtualKeyDialog.h"
#include "Dialogs/ui/VirtualKeyboard.h"
#include "DialogTestSupport.h"
#include "Logger.h"

#include <QLabel>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <stdexcept>
#include <thread>

using Brelt::MW::Base::HexBinary;

namespace {

std::string Text(const HexBinary* b)
{
    return b ? std::string(reinterpret_cast<const char*>(b->data), static_cast<size_t>(b->length)) : "<null>";
}

// Types `pin` and presses OK on every keyboard; answers the wrong-PIN
// dialog with "enter again"; records the thread of every shown dialog.
class Answers {
public:
    explicit Answers(QString pin)
    {
        PinDialogsTesting::SetDialogShownHook([this, pin](QDialog* shown) {
            lastThread = std::this_thread::get_id();
            ++count;
            if (auto* keyboard = qobject_cast<VirtualKeyDialog*>(shown)) {
                QTimer::singleShot(0, keyboard, [keyboard, pin] {
                    TypePin(keyboard, pin);
                    ClickButton(keyboard, "okButton");
                });
            } else if (auto* wrong = qobject_cast<PinErrorDialog*>(shown)) {
                QTimer::singleShot(0, wrong, [wrong] { ClickButton(wrong, "okButton"); });
            } else if (qobject_cast<PinPadRequestDialog*>(shown)) {
                pinPadVisible = shown->isVisible();
            }
        });
    }
    ~Answers() { PinDialogsTesting::SetDialogShownHook({}); }

    std::atomic<std::thread::id> lastThread;
    std::atomic<int> count{0};
    std::atomic<bool> pinPadVisible{false};
};

CK_RV Keyboard(VirtualKeyboard& vk, std::string* pin)
{
    const unsigned char heading[] = {0, 'S', 'e', 'c', 'r', 'e', 't', 'H', 'e', 'a', 'd'};
    HexBinary text(heading, sizeof heading, true);
    HexBinary* out = nullptr;
    const CK_RV rv = vk.ShowVirtKeyDialog(&text, &out);
    *pin = Text(out);
    delete out;
    return rv;
}

TEST(NoApplication, KeyboardOnAnyThreadLeavesNothingBehind)
{
    Answers answers(QStringLiteral("73195"));
    VirtualKeyboard vk("SK", 3);
    vk.SetRemainingAttempts(-1);
    vk.SetMinMaxPinLength(4, 8);
    const std::string localeBefore = std::setlocale(LC_ALL, nullptr);

    for (int round = 0; round < 2; ++round) {
        std::string pin;
        CK_RV rv = CKR_GENERAL_ERROR;
        std::thread host([&] { rv = Keyboard(vk, &pin); });
        host.join();
        EXPECT_EQ(rv, CKR_OK);
        EXPECT_EQ(pin, "73195");
        EXPECT_EQ(QCoreApplication::instance(), nullptr);
    }
    std::string pin;
    EXPECT_EQ(Keyboard(vk, &pin), CKR_OK);  // and on the process's main thread
    EXPECT_EQ(pin, "73195");
    EXPECT_EQ(answers.lastThread.load(), std::this_thread::get_id());
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), localeBefore);

    EXPECT_EQ(vk.ShowInvalidPinDialog(), CKR_OK);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

TEST(NoApplication, PinPadNoticeRunsOnItsOwnThread)
{
    Answers answers(QStringLiteral("2468"));
    VirtualKeyboard vk("EN", 3);
    vk.SetRemainingAttempts(-1);
    vk.SetMinMaxPinLength(4, 8);

    EXPECT_EQ(vk.ClosePinPadDialog(), CKR_OK);  // nothing open
    EXPECT_EQ(vk.ShowPinPadDialog(nullptr, 3), CKR_OK);
    ASSERT_TRUE(SpinUntil([&] { return answers.pinPadVisible.load(); }));
    EXPECT_NE(answers.lastThread.load(), std::this_thread::get_id());
    const std::thread::id noticeThread = answers.lastThread;

    // A modal dialog while the notice is up runs on the same GUI thread.
    std::string pin;
    EXPECT_EQ(Keyboard(vk, &pin), CKR_OK);
    EXPECT_EQ(pin, "2468");
    EXPECT_EQ(answers.lastThread.load(), noticeThread);

    // A second notice replaces the first.
    answers.pinPadVisible = false;
    EXPECT_EQ(vk.ShowPinPadDialog(nullptr, 1), CKR_OK);
    ASSERT_TRUE(SpinUntil([&] { return answers.pinPadVisible.load(); }));

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(vk.ClosePinPadDialog(), CKR_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(9));
    EXPECT_EQ(QCoreApplication::instance(), nullptr);

    // Closed before the notice could even be built.
    for (int round = 0; round < 5; ++round) {
        EXPECT_EQ(vk.ShowPinPadDialog(nullptr, 3), CKR_OK);
        EXPECT_EQ(vk.ClosePinPadDialog(), CKR_OK);
        EXPECT_EQ(QCoreApplication::instance(), nullptr);
    }

    // Afterwards a modal dialog brings its own application again.
    EXPECT_EQ(Keyboard(vk, &pin), CKR_OK);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// A dialog that fails while it is up must not leave its full-screen backdrop
// behind nor keep the module's application running: the call comes back
// failed, with no PIN.
TEST(NoApplication, FailureWhileTheDialogIsUpEndsTheCall)
{
    PinDialogsTesting::SetDialogShownHook([](QDialog*) { throw std::runtime_error("dialog fault"); });
    VirtualKeyboard vk("SK", 3);
    vk.SetMinMaxPinLength(4, 8);
    std::string pin;
    EXPECT_EQ(Keyboard(vk, &pin), CKR_FUNCTION_FAILED);
    EXPECT_EQ(pin, "<null>");
    EXPECT_EQ(vk.ShowInvalidPinDialog(), CKR_FUNCTION_FAILED);
    PinDialogsTesting::SetDialogShownHook({});
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// Neither the PIN nor the caller's text reaches the log, even at level 5.
TEST(NoApplication, LogHoldsNoPinNorCallerText)
{
    const std::string logPath = testing::TempDir() + "dialogs_log_test.log";
    std::remove(logPath.c_str());
    setenv("COPYRIGHT_BRELT_PKCS11_P", logPath.c_str(), 1);
    setenv("COPYRIGHT_BRELT_PKCS11_L", "5", 1);
    InitLogger();
    {
        Answers answers(QStringLiteral("864209"));
        VirtualKeyboard vk("SK", 3);
        vk.SetMinMaxPinLength(4, 8);
        std::string pin;
        EXPECT_EQ(Keyboard(vk, &pin), CKR_OK);
        EXPECT_EQ(pin, "864209");
        vk.SetMinMaxPinLength(9, 3);  // nothing sensible: a failure path logs too
        EXPECT_EQ(vk.ShowInvalidPinDialog(), CKR_OK);
    }
    CloseLogger();
    std::ifstream file(logPath);
    std::stringstream content;
    content << file.rdbuf();
    EXPECT_FALSE(content.str().empty());
    EXPECT_EQ(content.str().find("864209"), std::string::npos);
    EXPECT_EQ(content.str().find("SecretHead"), std::string::npos);
    unsetenv("COPYRIGHT_BRELT_PKCS11_P");
    unsetenv("COPYRIGHT_BRELT_PKCS11_L");
}

}  // namespace

int main(int argc, char** argv)
{
    // Qt sets the C locale from the environment when an application is
    // created; the facade must undo that for the host.
    setenv("LC_ALL", "C.UTF-8", 1);
    std::setlocale(LC_ALL, "C");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
