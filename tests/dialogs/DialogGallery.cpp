// Renders every PIN dialog in both languages into PNG files for a person to
// review: "<name>.png" is the whole screen (backdrop, overlay, dialog) and
// "<name>_dialog.png" the dialog alone. The first picture comes from a real
// login flow: the facade with the module's own application, a too short PIN
// typed on the keyboard, the length notice over it; on an X server it is also
// taken as a reviewer takes it, with xwd -root (when installed). Exits
// non-zero when a picture could not be written, is blank, or shows the
// keyboard blacked out.
//   dialog_gallery OUTPUT_DIR

#include "BaseTypes.h"
#include "Dialogs/ui/AbstractWorker.h"
#include "Dialogs/ui/DialogShownHook.h"
#include "Dialogs/ui/PinBlockedErrorDialog.h"
#include "Dialogs/ui/PinErrorDialog.h"
#include "Dialogs/ui/PinLengthErrorDialog.h"
#include "Dialogs/ui/PinPadRequestDialog.h"
#include "Dialogs/ui/Resources.h"
#include "Dialogs/ui/VirtualKeyDialog.h"
#include "Dialogs/ui/VirtualKeyboard.h"
#include "DialogTestSupport.h"

#include <QDir>
#include <QImage>
#include <QMainWindow>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>
#include <QScreen>
#include <QTimer>
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

// Share of pure black among the pixels of `area` (a keyboard repainted as a
// black block instead of its keys).
double BlackShare(const QImage& image, const QRect& area)
{
    const QRect inside = area.intersected(image.rect());
    int black = 0;
    int all = 0;
    for (int y = inside.top(); y <= inside.bottom(); y += 2)
        for (int x = inside.left(); x <= inside.right(); x += 2, ++all)
            black += (image.pixel(x, y) & 0xFFFFFF) == 0 ? 1 : 0;
    return all == 0 ? 1.0 : double(black) / all;
}

// The X screen as `xwd -root` writes it, which reads every window by its own
// visual; null when xwd is missing or its output is not a true-colour dump.
QImage XwdRootCapture()
{
    if (QStandardPaths::findExecutable(QStringLiteral("xwd")).isEmpty())
        return QImage();
    QProcess xwd;
    xwd.start(QStringLiteral("xwd"), {QStringLiteral("-root"), QStringLiteral("-silent")});
    if (!xwd.waitForFinished(20000))
        return QImage();
    const QByteArray dump = xwd.readAllStandardOutput();
    constexpr int kHeaderWords = 25;
    if (dump.size() < kHeaderWords * 4)
        return QImage();
    quint32 header[kHeaderWords];
    for (int i = 0; i < kHeaderWords; ++i)
        header[i] = qFromBigEndian<quint32>(dump.constData() + i * 4);
    const quint32 headerSize = header[0], width = header[4], height = header[5], lsbFirst = header[7] == 0;
    const quint32 bitsPerPixel = header[11], bytesPerLine = header[12];
    const quint32 masks[3] = {header[14], header[15], header[16]};
    const quint32 colours = header[19];
    const qsizetype pixels = qsizetype(headerSize) + qsizetype(colours) * 12;
    if ((bitsPerPixel != 24 && bitsPerPixel != 32) || width == 0 || height == 0 ||
        pixels + qsizetype(bytesPerLine) * height > dump.size())
        return QImage();
    auto channel = [](quint32 value, quint32 mask) { return mask ? (value & mask) >> qCountTrailingZeroBits(mask) : 0; };
    QImage image(int(width), int(height), QImage::Format_RGB32);
    const int bytes = int(bitsPerPixel / 8);
    for (quint32 y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const uchar*>(dump.constData() + pixels + qsizetype(y) * bytesPerLine);
        for (quint32 x = 0; x < width; ++x) {
            quint32 value = 0;
            for (int b = 0; b < bytes; ++b)
                value |= quint32(line[x * bytes + b]) << (8 * (lsbFirst ? b : bytes - 1 - b));
            image.setPixel(int(x), int(y),
                           qRgb(int(channel(value, masks[0])), int(channel(value, masks[1])), int(channel(value, masks[2]))));
        }
    }
    return image;
}

// A login as a host without Qt makes it: the facade brings its own
// application; the PIN is typed with the keys' own events, OK pressed with
// too few digits, and the screen taken while the length notice stands over
// the keyboard. The keyboard must stay visible around the notice.
void LengthNoticeFromALogin()
{
    PinDialogsTesting::SetDialogShownHook([](QDialog* shown) {
        auto* keyboard = qobject_cast<VirtualKeyDialog*>(shown);
        if (!keyboard)
            return;
        QTimer::singleShot(0, keyboard, [keyboard] {
            QTest::keyClick(keyboard, Qt::Key_1);
            QTest::keyClick(keyboard, Qt::Key_2);
            QTest::keyClick(keyboard, Qt::Key_Return);
            auto* notice = keyboard->findChild<PinLengthErrorDialog*>();
            if (!notice || !QTest::qWaitForWindowExposed(notice))
                std::fprintf(stderr, "length notice not shown\n");
            QTest::qWait(300);
            const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
            Save(screen, QStringLiteral("keyboard_length_notice_login_sk"));
            // The keys lie below the notice.
            QRect keys(keyboard->mapToGlobal(QPoint(0, 0)), keyboard->size());
            if (notice)
                keys.setTop(notice->frameGeometry().bottom() + 1);
            const double black = BlackShare(screen, keys);
            if (black > 0.5) {
                std::fprintf(stderr, "keyboard blacked out under the length notice (%.0f%% black)\n", black * 100);
                ++g_failures;
            }
            if (QGuiApplication::platformName() == QLatin1String("xcb")) {
                const QImage seen = XwdRootCapture();
                if (seen.isNull()) {
                    std::fprintf(stderr, "no xwd capture (x11-apps not installed?)\n");
                } else {
                    Save(seen, QStringLiteral("keyboard_length_notice_login_xwd_sk"));
                    const double blackSeen = BlackShare(seen, keys);
                    if (blackSeen > 0.5) {
                        std::fprintf(stderr, "keyboard blacked out in the xwd capture (%.0f%% black)\n",
                                     blackSeen * 100);
                        ++g_failures;
                    }
                }
            }
            ClickButton(keyboard, "hideButton");
        });
    });
    VirtualKeyboard facade("SK", 3);
    facade.SetRemainingAttempts(-1);
    facade.SetMinMaxPinLength(4, 8);
    Brelt::MW::Base::HexBinary* pin = nullptr;
    if (facade.ShowVirtKeyDialog(nullptr, &pin) != CKR_FUNCTION_CANCELED) {
        std::fprintf(stderr, "the login's keyboard did not end as closed\n");
        ++g_failures;
    }
    delete pin;
    PinDialogsTesting::SetDialogShownHook({});
}

void Ordered(VirtualKeyDialog* keyboard)
{
    QTest::mouseClick(keyboard->findChild<QAbstractButton*>(QStringLiteral("orderPinKeysRadioButton")),
                      Qt::LeftButton);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    g_outputDir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_outputDir);
    // Before the gallery's own application exists, as in a host without Qt.
    LengthNoticeFromALogin();

    QApplication app(argc, argv);
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
