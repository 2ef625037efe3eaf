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
#include <future>
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

// Two host threads at once (two tokens): one application at a time, both answered.
TEST(NoApplication, ConcurrentKeyboardsTakeTurns)
{
    Answers answers(QStringLiteral("5555"));
    VirtualKeyboard first("SK", 3);
    VirtualKeyboard second("SK", 3);
    for (VirtualKeyboard* vk : {&first, &second})
        vk->SetMinMaxPinLength(4, 8);
    std::string pin1, pin2;
    CK_RV rv1 = CKR_GENERAL_ERROR, rv2 = CKR_GENERAL_ERROR;
    std::thread a([&] { rv1 = Keyboard(first, &pin1); });
    std::thread b([&] { rv2 = Keyboard(second, &pin2); });
    a.join();
    b.join();
    EXPECT_EQ(rv1, CKR_OK);
    EXPECT_EQ(rv2, CKR_OK);
    EXPECT_EQ(pin1 + pin2, "55555555");
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// The card is pulled while the module is still creating its application:
// the keyboard never opens.
TEST(NoApplication, CancelWhileTheModuleCreatesItsApplication)
{
    Answers answers(QStringLiteral("1234"));
    VirtualKeyboard vk("SK", 3);
    vk.SetMinMaxPinLength(4, 8);
    PinDialogsTesting::SetStepHook([&vk](PinDialogsTesting::Step step, QObject*) {
        if (step == PinDialogsTesting::Step::ModuleApplicationCreating)
            vk.CancelVirtKeyDialog();
    });
    std::string pin;
    EXPECT_EQ(Keyboard(vk, &pin), CKR_FUNCTION_CANCELED);
    PinDialogsTesting::SetStepHook({});
    EXPECT_EQ(pin, "<null>");
    EXPECT_EQ(answers.count, 0);
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

TEST(NoApplication, FacadeLeftWithANoticeStillOpenEndsItsThread)
{
    {
        VirtualKeyboard vk("SK", 3);
        EXPECT_EQ(vk.ShowPinPadDialog(nullptr, 3), CKR_OK);
    }
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// An event-loop thread that begins only after the notice gave up on it opens
// nothing, creates no application and is joined.
TEST(NoApplication, LateEventLoopIsGivenUpAndJoined)
{
    Answers answers(QStringLiteral("1234"));
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    PinDialogsTesting::SetEventLoopStartTimeout(50);
    PinDialogsTesting::SetStepHook([released](PinDialogsTesting::Step step, QObject*) {
        if (step == PinDialogsTesting::Step::EventLoopStarting)
            released.wait();
    });
    {
        VirtualKeyboard vk("SK", 3);
        EXPECT_EQ(vk.ShowPinPadDialog(nullptr, 3), CKR_FUNCTION_FAILED);
        release.set_value();
        EXPECT_EQ(vk.ClosePinPadDialog(), CKR_OK);
        EXPECT_EQ(QCoreApplication::instance(), nullptr);
    }
    PinDialogsTesting::SetStepHook({});
    PinDialogsTesting::SetEventLoopStartTimeout(0);
    EXPECT_EQ(answers.count, 0);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// The display goes away between the check and the event loop's application:
// the notice fails cleanly and its thread ends.
TEST(NoApplication, EventLoopThatCannotCreateItsApplication)
{
    const std::string platform = std::getenv("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    PinDialogsTesting::SetStepHook([](PinDialogsTesting::Step step, QObject*) {
        if (step == PinDialogsTesting::Step::ModuleApplicationCreating) {
            setenv("QT_QPA_PLATFORM", "xcb", 1);
            setenv("DISPLAY", ":97", 1);
        }
    });
    VirtualKeyboard vk("SK", 3);
    EXPECT_EQ(vk.ShowPinPadDialog(nullptr, 3), CKR_FUNCTION_FAILED);
    PinDialogsTesting::SetStepHook({});
    setenv("QT_QPA_PLATFORM", platform.c_str(), 1);
    unsetenv("DISPLAY");
    EXPECT_EQ(vk.ClosePinPadDialog(), CKR_OK);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// While one thread's keyboard runs in the module's short-lived application,
// a PIN-pad notice on another thread waits for it to go instead of adopting
// it, and then brings its own event loop.
TEST(NoApplication, PinPadNoticeDoesNotAdoptAnotherThreadsApplication)
{
    VirtualKeyboard keyboardFacade("SK", 3);
    keyboardFacade.SetMinMaxPinLength(4, 8);
    VirtualKeyboard noticeFacade("SK", 3);
    // Thread ids may be reused once a thread has ended; a thread-local mark
    // tells the keyboard's thread apart for sure.
    static thread_local bool keyboardHost = false;
    std::future<CK_RV> notice;
    std::atomic<bool> noticeReturnedWhileKeyboardOpen{false};
    std::promise<bool> noticeOnKeyboardHost;
    PinDialogsTesting::SetDialogShownHook([&](QDialog* shown) {
        if (auto* keyboard = qobject_cast<VirtualKeyDialog*>(shown)) {
            notice = std::async(std::launch::async, [&] { return noticeFacade.ShowPinPadDialog(nullptr, 3); });
            // Time for a wrongly adopting call to return; a correct one cannot.
            noticeReturnedWhileKeyboardOpen =
                notice.wait_for(std::chrono::seconds(1)) == std::future_status::ready;
            QTimer::singleShot(0, keyboard, [keyboard] {
                TypePin(keyboard, QStringLiteral("1234"));
                ClickButton(keyboard, "okButton");
            });
        } else if (qobject_cast<PinPadRequestDialog*>(shown)) {
            noticeOnKeyboardHost.set_value(keyboardHost);
        }
    });
    std::string pin;
    CK_RV rv = CKR_GENERAL_ERROR;
    std::thread host([&] {
        keyboardHost = true;
        rv = Keyboard(keyboardFacade, &pin);
    });
    host.join();
    EXPECT_EQ(rv, CKR_OK);
    EXPECT_FALSE(noticeReturnedWhileKeyboardOpen);
    ASSERT_TRUE(notice.valid());
    EXPECT_EQ(notice.get(), CKR_OK);
    auto shownOn = noticeOnKeyboardHost.get_future();
    ASSERT_EQ(shownOn.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(shownOn.get());
    EXPECT_EQ(noticeFacade.ClosePinPadDialog(), CKR_OK);
    PinDialogsTesting::SetDialogShownHook({});
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// The module's GUI thread ends on its own before it ran a keyboard posted to
// it: the waiting call ends failed instead of waiting for ever, and the
// notice still up on that thread is closed without touching its windows
// after the application has gone.
TEST(NoApplication, GuiThreadEndsBeforeTheDialogStarts)
{
    VirtualKeyboard noticeFacade("SK", 3);
    VirtualKeyboard keyboardFacade("SK", 3);
    keyboardFacade.SetMinMaxPinLength(4, 8);
    std::promise<QDialog*> noticeShown;
    PinDialogsTesting::SetDialogShownHook([&](QDialog* shown) {
        if (qobject_cast<PinPadRequestDialog*>(shown))
            noticeShown.set_value(shown);
    });
    ASSERT_EQ(noticeFacade.ShowPinPadDialog(nullptr, 3), CKR_OK);
    auto shownNotice = noticeShown.get_future();
    ASSERT_EQ(shownNotice.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    QDialog* notice = shownNotice.get();

    // The GUI thread is held until the keyboard's show is queued for it, and
    // then drops that show and ends its loop, as a thread does that ends
    // before reaching it.
    std::promise<QObject*> posted;
    std::shared_future<QObject*> postedWorker = posted.get_future().share();
    PinDialogsTesting::SetStepHook([&posted](PinDialogsTesting::Step step, QObject* worker) {
        if (step == PinDialogsTesting::Step::ModalWorkerPosted)
            posted.set_value(worker);
    });
    QMetaObject::invokeMethod(
        notice,
        [postedWorker] {
            QCoreApplication::removePostedEvents(postedWorker.get());
            QCoreApplication::quit();
        },
        Qt::QueuedConnection);
    std::string pin;
    EXPECT_EQ(Keyboard(keyboardFacade, &pin), CKR_FUNCTION_FAILED);
    EXPECT_EQ(pin, "<null>");
    EXPECT_EQ(noticeFacade.ClosePinPadDialog(), CKR_OK);
    PinDialogsTesting::SetStepHook({});
    PinDialogsTesting::SetDialogShownHook({});
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// Two logins on two PIN-pad readers at once: both notices run on the one
// event loop, the first to close leaves the loop to the second (a keyboard
// raised meanwhile still runs there), and the last one ends it.
TEST(NoApplication, TwoPinPadNoticesShareTheEventLoop)
{
    Answers answers(QStringLiteral("8642"));
    VirtualKeyboard first("SK", 3);
    VirtualKeyboard second("SK", 3);
    second.SetMinMaxPinLength(4, 8);
    ASSERT_EQ(first.ShowPinPadDialog(nullptr, 3), CKR_OK);
    ASSERT_TRUE(SpinUntil([&] { return answers.pinPadVisible.load(); }));
    const std::thread::id loopThread = answers.lastThread;
    answers.pinPadVisible = false;
    ASSERT_EQ(second.ShowPinPadDialog(nullptr, 1), CKR_OK);
    ASSERT_TRUE(SpinUntil([&] { return answers.pinPadVisible.load(); }));
    EXPECT_EQ(answers.lastThread.load(), loopThread);

    EXPECT_EQ(first.ClosePinPadDialog(), CKR_OK);
    EXPECT_NE(QCoreApplication::instance(), nullptr);  // the second notice still runs there
    std::string pin;
    EXPECT_EQ(Keyboard(second, &pin), CKR_OK);
    EXPECT_EQ(pin, "8642");
    EXPECT_EQ(answers.lastThread.load(), loopThread);

    EXPECT_EQ(second.ClosePinPadDialog(), CKR_OK);
    EXPECT_EQ(QCoreApplication::instance(), nullptr);
}

// The last notice closes while another login's keyboard runs on the loop:
// the keyboard stays up until it is answered, then the loop ends.
TEST(NoApplication, KeyboardKeepsTheEventLoopWhenTheLastNoticeCloses)
{
    VirtualKeyboard noticeFacade("SK", 3);
    VirtualKeyboard keyboardFacade("SK", 3);
    keyboardFacade.SetMinMaxPinLength(4, 8);
    std::atomic<bool> noticeUp{false};
    std::future<CK_RV> noticeClosed;
    PinDialogsTesting::SetDialogShownHook([&](QDialog* shown) {
        if (qobject_cast<PinPadRequestDialog*>(shown)) {
            noticeUp = true;
        } else if (auto* keyboard = qobject_cast<VirtualKeyDialog*>(shown)) {
            noticeClosed = std::async(std::launch::async, [&] { return noticeFacade.ClosePinPadDialog(); });
            // The close runs its part here on the GUI thread; it must not end the loop.
            SpinUntil([&] { return noticeClosed.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
            QTimer::singleShot(0, keyboard, [keyboard] {
                TypePin(keyboard, QStringLiteral("97531"));
                ClickButton(keyboard, "okButton");
            });
        }
    });
    ASSERT_EQ(noticeFacade.ShowPinPadDialog(nullptr, 3), CKR_OK);
    ASSERT_TRUE(SpinUntil([&] { return noticeUp.load(); }));
    std::string pin;
    EXPECT_EQ(Keyboard(keyboardFacade, &pin), CKR_OK);
    EXPECT_EQ(pin, "97531");
    ASSERT_TRUE(noticeClosed.valid());
    EXPECT_EQ(noticeClosed.get(), CKR_OK);
    PinDialogsTesting::SetDialogShownHook({});
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
