// The facade in a host that has its own QApplication: dialogs run on the
// host's GUI thread (this test's main thread) while the PKCS#11 caller waits
// on another thread.

#include "BaseTypes.h"
#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/PinErrorDialog.h"
#include "Dialogs/ui/PinLengthErrorDialog.h"
#include "Dialogs/ui/PinPadRequestDialog.h"
#include "Dialogs/ui/VirtualKeyDialog.h"
#include "Dialogs/ui/VirtualKeyboard.h"
#include "DialogTestSupport.h"

#include <QLabel>
#include <QTimer>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using Brelt::MW::Base::HexBinary;

namespace {

struct KeyboardOutcome {
    CK_RV rv;
    std::unique_ptr<HexBinary> pin;
};

std::future<KeyboardOutcome> KeyboardAsync(VirtualKeyboard& vk)
{
    return std::async(std::launch::async, [&vk] {
        HexBinary* pin = reinterpret_cast<HexBinary*>(0x1);  // must be overwritten
        const CK_RV rv = vk.ShowVirtKeyDialog(nullptr, &pin);
        return KeyboardOutcome{rv, std::unique_ptr<HexBinary>(pin)};
    });
}

template <class T>
T Await(std::future<T>& result)
{
    EXPECT_TRUE(SpinUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    return result.get();
}

std::string Text(const HexBinary* b)
{
    return b ? std::string(reinterpret_cast<const char*>(b->data), static_cast<size_t>(b->length)) : "<null>";
}

// Dialogs run in a nested event loop on this thread: the test acts on them
// from inside that loop, through the hook that sees each shown dialog.
template <class D>
void AnswerWith(std::function<void(D*)> action)
{
    PinDialogsTesting::SetDialogShownHook([action](QDialog* shown) {
        if (auto* dialog = qobject_cast<D*>(shown))
            QTimer::singleShot(0, dialog, [dialog, action] { action(dialog); });
    });
}

class Hosted : public ::testing::Test {
protected:
    void SetUp() override
    {
        vk = std::make_unique<VirtualKeyboard>("EN", 3);
        vk->SetRemainingAttempts(-1);
        vk->SetMinMaxPinLength(4, 8);
    }
    void TearDown() override
    {
        PinDialogsTesting::SetDialogShownHook({});
        SpinUntil([] { return VisibleTopLevels() == 0; }, 2000);
        EXPECT_EQ(VisibleTopLevels(), 0);
        // Our catalogue is gone with the dialog.
        EXPECT_EQ(QCoreApplication::translate("VirtualKeyDialog", "Close"), QStringLiteral("Close"));
    }
    std::unique_ptr<VirtualKeyboard> vk;
};

TEST_F(Hosted, KeyboardReturnsTypedPinOrCancel)
{
    AnswerWith<VirtualKeyDialog>([](VirtualKeyDialog* keyboard) {
        TypePin(keyboard, QStringLiteral("1234"));
        ClickButton(keyboard, "okButton");
    });
    auto typed = KeyboardAsync(*vk);
    KeyboardOutcome outcome = Await(typed);
    EXPECT_EQ(outcome.rv, CKR_OK);
    EXPECT_EQ(Text(outcome.pin.get()), "1234");

    AnswerWith<VirtualKeyDialog>([](VirtualKeyDialog* keyboard) { ClickButton(keyboard, "hideButton"); });
    auto closed = KeyboardAsync(*vk);
    outcome = Await(closed);
    EXPECT_EQ(outcome.rv, CKR_FUNCTION_CANCELED);
    EXPECT_EQ(outcome.pin, nullptr);
}

TEST_F(Hosted, CancelFromAnotherThreadWhileOpen)
{
    EXPECT_EQ(vk->CancelVirtKeyDialog(), CKR_OK);  // nothing open: no effect
    std::atomic<bool> open{false};
    AnswerWith<VirtualKeyDialog>([&open](VirtualKeyDialog* keyboard) {
        TypePin(keyboard, QStringLiteral("12"));
        open = true;
    });
    auto typed = KeyboardAsync(*vk);
    std::thread monitor([&] {
        while (!open)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(vk->CancelVirtKeyDialog(), CKR_OK);
    });
    const KeyboardOutcome outcome = Await(typed);
    monitor.join();
    EXPECT_EQ(outcome.rv, CKR_FUNCTION_CANCELED);
    EXPECT_EQ(outcome.pin, nullptr);
}

TEST_F(Hosted, CancelBeforeTheKeyboardExists)
{
    std::atomic<int> shown{0};
    AnswerWith<VirtualKeyDialog>([&shown](VirtualKeyDialog*) { ++shown; });
    for (int round = 0; round < 20; ++round) {
        auto typed = KeyboardAsync(*vk);
        // The GUI thread does not run events, so ShowGui cannot start yet.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(vk->CancelVirtKeyDialog(), CKR_OK);
        const KeyboardOutcome outcome = Await(typed);
        EXPECT_EQ(outcome.rv, CKR_FUNCTION_CANCELED) << round;
    }
    EXPECT_EQ(shown, 0);  // never opened for a card that is gone
}

// The host's GUI thread is busy (this thread runs no events): a cancel frees
// the waiting caller at once, and the queued show, when it runs, opens nothing.
TEST_F(Hosted, CancelFreesTheCallerWhileTheGuiThreadIsBusy)
{
    std::atomic<int> shown{0};
    AnswerWith<VirtualKeyDialog>([&shown](VirtualKeyDialog*) { ++shown; });
    auto typed = KeyboardAsync(*vk);
    bool freed = false;
    // A cancel before the call has registered its keyboard does nothing, so
    // it is repeated; the bound only stops a broken build from hanging.
    for (int round = 0; round < 2000 && !freed; ++round) {
        EXPECT_EQ(vk->CancelVirtKeyDialog(), CKR_OK);
        freed = typed.wait_for(std::chrono::milliseconds(5)) == std::future_status::ready;
    }
    EXPECT_TRUE(freed);
    const KeyboardOutcome outcome = Await(typed);
    EXPECT_EQ(outcome.rv, CKR_FUNCTION_CANCELED);
    EXPECT_EQ(outcome.pin, nullptr);
    QCoreApplication::sendPostedEvents();  // the queued show and the worker's deletion
    EXPECT_EQ(shown, 0);
}

TEST_F(Hosted, MessageDialogResults)
{
    auto invalid = [&](std::function<void(PinErrorDialog*)> action) {
        AnswerWith<PinErrorDialog>(action);
        auto result = std::async(std::launch::async, [&] { return vk->ShowInvalidPinDialog(); });
        return Await(result);
    };
    EXPECT_EQ(invalid([](PinErrorDialog* d) { ClickButton(d, "okButton"); }), CKR_OK);
    EXPECT_EQ(invalid([](PinErrorDialog* d) { ClickButton(d, "cancelButton"); }), CKR_FUNCTION_CANCELED);
    EXPECT_EQ(invalid([](PinErrorDialog* d) { QTest::keyClick(d, Qt::Key_Escape); }), CKR_FUNCTION_CANCELED);

    AnswerWith<QDialog>([](QDialog* d) { ClickButton(d, "closeButton"); });
    auto blocked = std::async(std::launch::async, [&] { return vk->ShowPinBlockedDialog(); });
    EXPECT_EQ(Await(blocked), CKR_OK);

    // Worded for the argument, not for the facade's own type.
    VirtualKeyboard bokFacade("EN", 0);
    QString shown;
    AnswerWith<PinLengthErrorDialog>([&shown](PinLengthErrorDialog* d) {
        shown = d->findChild<QLabel*>(QStringLiteral("label"))->text();
        ClickButton(d, "closeButton");
    });
    auto length = std::async(std::launch::async, [&] { return bokFacade.ShowPinLengthErrDialog(3); });
    EXPECT_EQ(Await(length), CKR_OK);
    EXPECT_EQ(shown, QStringLiteral("Incorrect PIN value length"));
}

TEST_F(Hosted, CalledOnTheGuiThreadItself)
{
    AnswerWith<VirtualKeyDialog>([](VirtualKeyDialog* keyboard) {
        TypePin(keyboard, QStringLiteral("97531"));
        ClickButton(keyboard, "okButton");
    });
    HexBinary* pin = nullptr;
    EXPECT_EQ(vk->ShowVirtKeyDialog(nullptr, &pin), CKR_OK);
    EXPECT_EQ(Text(pin), "97531");
    delete pin;
}

// Only "EN" loads the English catalogue; every other value the Slovak one.
TEST_F(Hosted, OnlyEnLoadsEnglish)
{
    const struct {
        const char* language;
        const char* closeText;
        const char* title;
    } rows[] = {
        {"EN", "Close", "Please enter your ZEP PIN"},
        {"SK", "Zavrieť", "Prosím vložte Váš KEP PIN"},
        {"en", "Zavrieť", "Prosím vložte Váš KEP PIN"},
        {"XX", "Zavrieť", "Prosím vložte Váš KEP PIN"},
        {"", "Zavrieť", "Prosím vložte Váš KEP PIN"},
    };
    for (const auto& row : rows) {
        VirtualKeyboard facade(row.language, 1);
        QString closeText;
        QString title;
        AnswerWith<VirtualKeyDialog>([&](VirtualKeyDialog* keyboard) {
            closeText = keyboard->findChild<QPushButton*>(QStringLiteral("hideButton"))->text();
            title = keyboard->findChild<QLabel*>(QStringLiteral("label"))->accessibleDescription();
            ClickButton(keyboard, "hideButton");
        });
        auto typed = KeyboardAsync(facade);
        EXPECT_EQ(Await(typed).rv, CKR_FUNCTION_CANCELED);
        EXPECT_EQ(closeText, QString::fromUtf8(row.closeText)) << row.language;
        EXPECT_EQ(title, QString::fromUtf8(row.title)) << row.language;
    }
}

TEST_F(Hosted, PinPadNoticeOnTheHostGuiThread)
{
    std::atomic<bool> shown{false};
    PinDialogsTesting::SetDialogShownHook([&shown](QDialog* d) { shown = qobject_cast<PinPadRequestDialog*>(d); });
    auto show = std::async(std::launch::async, [&] { return vk->ShowPinPadDialog(nullptr, 3); });
    EXPECT_EQ(Await(show), CKR_OK);
    ASSERT_TRUE(SpinUntil([&] { return shown.load(); }));
    EXPECT_NE(FindVisible<PinPadRequestDialog>(), nullptr);
    auto closed = std::async(std::launch::async, [&] { return vk->ClosePinPadDialog(); });
    EXPECT_EQ(Await(closed), CKR_OK);
    EXPECT_TRUE(SpinUntil([] { return FindVisible<PinPadRequestDialog>() == nullptr; }));
    EXPECT_EQ(vk->ClosePinPadDialog(), CKR_OK);
}

// Closing our backdrop must not end the host application's event loop.
TEST_F(Hosted, HostApplicationKeepsRunning)
{
    AnswerWith<VirtualKeyDialog>([](VirtualKeyDialog* keyboard) { ClickButton(keyboard, "hideButton"); });
    std::future<KeyboardOutcome> typed;
    QTimer::singleShot(0, [&] { typed = KeyboardAsync(*vk); });
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (typed.valid() && typed.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
            poll.stop();
            QTimer::singleShot(200, [] { QCoreApplication::exit(42); });
        }
    });
    poll.start();
    QTimer::singleShot(20000, [] { QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 42);
    EXPECT_EQ(typed.get().rv, CKR_FUNCTION_CANCELED);
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Test discovery at build time runs this program without a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
