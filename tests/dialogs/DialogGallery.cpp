// Renders every PIN dialog in both languages into PNG files for a person to
// review: "<name>.png" is the whole screen (backdrop, overlay, dialog) and
// "<name>_dialog.png" the dialog alone. Exits non-zero when a picture could
// not be written or is blank.
//   dialog_gallery OUTPUT_DIR

#include "BaseTypes.h"
#include "Dialogs/ui/AbstractWorker.h"
#include "Dialogs/ui/PinBlockedErrorDialog.h"
#include "Dialogs/ui/PinErrorDialog.h"
#include "Dialogs/ui/PinLengthErrorDialog.h"
#include "Dialogs/ui/PinPadRequestDialog.h"
#include "Dialogs/ui/Resources.h"
#include "Dialogs/ui/VirtualKeyDialog.h"
#include "DialogTestSupport.h"

#include <QDir>
#include <QImage>
#include <QMainWindow>
#include <QScreen>
#include <QTranslator>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

QString g_outputDir;
int g_failures = 0;

bool Blank(const QImage& image)
{
    if (image.isNull())
        return true;
    const QRgb first = image.pixel(0, 0);
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            if (image.pixel(x, y) != first)
                return false;
    return true;
}

void Save(const QImage& image, const QString& name)
{
    const QString path = g_outputDir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (Blank(image) || !image.save(path)) {
        std::fprintf(stderr, "blank or unwritable: %s\n", qPrintable(path));
        ++g_failures;
    }
}

class Language {
public:
    explicit Language(const char* code)
    {
        if (translator_.load(QStringLiteral("virtualkeyboard_%1.qm").arg(QLatin1String(code)),
                             QStringLiteral(":/VestrinaApp")))
            QCoreApplication::installTranslator(&translator_);
    }
    ~Language() { QCoreApplication::removeTranslator(&translator_); }

private:
    QTranslator translator_;
};

// Builds a backdrop as the workers do, lets `make` create and show a dialog
// on it, and saves the screen and the dialog.
void Shoot(const QString& name, const char* language,
           const std::function<QDialog*(QMainWindow* backdrop)>& make)
{
    Language catalogue(language);
    auto backdrop = std::make_unique<QMainWindow>(nullptr, Qt::WindowStaysOnTopHint);
    backdrop->setWindowOpacity(0.8);
    backdrop->setGeometry(QGuiApplication::primaryScreen()->geometry());
    backdrop->showFullScreen();
    QDialog* dialog = make(backdrop.get());
    if (!QTest::qWaitForWindowExposed(dialog))
        std::fprintf(stderr, "not exposed: %s\n", qPrintable(name));
    QTest::qWait(120);
    Save(QGuiApplication::primaryScreen()->grabWindow(0).toImage(), name);
    Save(dialog->grab().toImage(), name + QStringLiteral("_dialog"));
}

VirtualKeyDialog* Keyboard(QMainWindow* backdrop, int pinType, int attempts)
{
    auto* keyboard = new VirtualKeyDialog(backdrop, kDialogWindowFlags);
    keyboard->SetRemainingAttemps(attempts);
    keyboard->SetMinMaxPinLength(4, 8);
    keyboard->SetLabel(pinType);
    keyboard->Show();
    return keyboard;
}

void Ordered(VirtualKeyDialog* keyboard)
{
    QTest::mouseClick(keyboard->findChild<QAbstractButton*>(QStringLiteral("orderPinKeysRadioButton")),
                      Qt::LeftButton);
}

}  // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    g_outputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_outputDir);
    InitResources();

    Shoot("keyboard_random_sk", "sk", [](QMainWindow* b) { return Keyboard(b, 3, -1); });
    Shoot("keyboard_ordered_4digits_sk", "sk", [](QMainWindow* b) {
        auto* k = Keyboard(b, 3, -1);
        Ordered(k);
        TypePin(k, QStringLiteral("1234"));
        return k;
    });
    Shoot("keyboard_full_sk", "sk", [](QMainWindow* b) {
        auto* k = Keyboard(b, 3, 3);
        TypePin(k, QStringLiteral("12345678"));
        return k;
    });
    Shoot("keyboard_caller_text_sk", "sk", [](QMainWindow* b) {
        auto* k = Keyboard(b, 3, -1);
        const std::string text = std::string(1, '\0') + "Podpis zmluvy č. 42 <b>plain</b>";
        Brelt::MW::Base::HexBinary heading(reinterpret_cast<const unsigned char*>(text.data()),
                                           static_cast<int>(text.size()), true);
        k->SetTextLabel(&heading);
        return k;
    });
    Shoot("keyboard_length_notice_sk", "sk", [](QMainWindow* b) {
        auto* k = Keyboard(b, 3, -1);
        TypePin(k, QStringLiteral("12"));
        ClickButton(k, "okButton");
        return k;
    });
    for (const char* language : {"sk", "en"})
        for (int type : {0, 1, 2})
            Shoot(QStringLiteral("keyboard_type%1_%2").arg(type).arg(QLatin1String(language)), language,
                  [type](QMainWindow* b) { return Keyboard(b, type, -1); });
    for (int attempts : {3, 1, 0, -1})
        Shoot(QStringLiteral("wrong_pin_%1_sk").arg(attempts < 0 ? QStringLiteral("unknown") : QString::number(attempts)),
              "sk", [attempts](QMainWindow* b) {
                  auto* d = new PinErrorDialog(b, kDialogWindowFlags);
                  d->SetLabel(3);
                  d->Show(attempts);
                  return d;
              });
    for (const char* language : {"sk", "en"}) {
        const QString suffix = QLatin1String(language);
        Shoot(QStringLiteral("blocked_%1").arg(suffix), language, [](QMainWindow* b) {
            auto* d = new PinBlockedErrorDialog(b, kDialogWindowFlags);
            d->SetLabel(3);
            d->Show();
            return d;
        });
        Shoot(QStringLiteral("length_%1").arg(suffix), language, [](QMainWindow* b) {
            auto* d = new PinLengthErrorDialog(b, kDialogWindowFlags, true);
            d->SetLabel(3);
            d->Show(QString());
            return d;
        });
        Shoot(QStringLiteral("pinpad_type3_%1").arg(suffix), language, [](QMainWindow* b) {
            auto* d = new PinPadRequestDialog(b, kDialogWindowFlags);
            d->SetLabel(3);
            d->SetRemainingAttemps(-1);
            d->Show();
            return d;
        });
    }
    Shoot("wrong_pin_2_en", "en", [](QMainWindow* b) {
        auto* d = new PinErrorDialog(b, kDialogWindowFlags);
        d->SetLabel(3);
        d->Show(2);
        return d;
    });
    Shoot("pinpad_type1_attempts2_sk", "sk", [](QMainWindow* b) {
        auto* d = new PinPadRequestDialog(b, kDialogWindowFlags);
        d->SetLabel(1);
        d->SetRemainingAttemps(2);
        d->Show();
        return d;
    });
    std::printf("dialog_gallery: %d blank or missing pictures in %s\n", g_failures, qPrintable(g_outputDir));
    return g_failures == 0 ? 0 : 1;
}
