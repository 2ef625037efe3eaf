// The dialogs on their own: keyboard layouts, typing rules, labels, texts in
// both languages.

#include "BaseTypes.h"
#include "Dialogs/ui/AbstractWorker.h"
#include "Dialogs/ui/PinBlockedErrorDialog.h"
#include "Dialogs/ui/PinErrorDialog.h"
#include "Dialogs/ui/PinLengthErrorDialog.h"
#include "Dialogs/ui/PinPadRequestDialog.h"
#include "Dialogs/ui/Pixmap.h"
#include "Dialogs/ui/Resources.h"
#include "Dialogs/ui/VirtualKeyDialog.h"
#include "DialogTestSupport.h"

#include <QAbstractButton>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QLabel>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTimer>
#include <QTranslator>
#include <QXmlStreamReader>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <set>

using Brelt::MW::Base::HexBinary;

namespace {

QString PinOf(const VirtualKeyDialog& d)
{
    const auto pin = d.GetPINValue();
    return QString::fromLatin1(reinterpret_cast<const char*>(pin->data), pin->length);
}

QList<Pixmap*> Dots(QWidget* keyboard)
{
    QList<Pixmap*> dots;
    auto* view = keyboard->findChild<QGraphicsView*>(QStringLiteral("graphicsView"));
    for (QGraphicsItem* item : view->scene()->items())
        if (auto* dot = dynamic_cast<Pixmap*>(item))
            dots.append(dot);
    return dots;
}

QString LabelText(QWidget* dialog, const char* name)
{
    return dialog->findChild<QLabel*>(QString::fromLatin1(name))->text();
}

int Overlays(QWidget* backdrop)
{
    return static_cast<int>(
        backdrop->findChildren<QWidget*>(QStringLiteral("crepuscularWidget"), Qt::FindDirectChildrenOnly).size());
}

class Keyboard : public ::testing::Test {
protected:
    void SetUp() override
    {
        backdrop = std::make_unique<QMainWindow>();
        backdrop->resize(800, 800);
        backdrop->show();
        dialog = new VirtualKeyDialog(backdrop.get(), kDialogWindowFlags);
        dialog->SetMinMaxPinLength(4, 8);
        dialog->SetLabel(3);
        dialog->Show();
    }
    void Type(const QString& pin) { TypePin(dialog, pin); }
    void Ok() { ClickButton(dialog, "okButton"); }

    std::unique_ptr<QMainWindow> backdrop;
    VirtualKeyDialog* dialog = nullptr;  // child of the backdrop
};

TEST_F(Keyboard, OrderedAndRandomLayouts)
{
    dialog->OrderButtons();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(dialog->findChild<QPushButton*>(QStringLiteral("button%1").arg(i))->text(),
                  QString::number((i + 1) % 10));
    Type("12");

    std::set<QString> layouts;
    for (int round = 0; round < 5; ++round) {
        dialog->Rearrange();
        QString layout;
        std::set<QString> labels;
        for (int i = 0; i < 10; ++i) {
            const QString label = dialog->findChild<QPushButton*>(QStringLiteral("button%1").arg(i))->text();
            labels.insert(label);
            layout += label;
        }
        EXPECT_EQ(labels.size(), 10u) << layout.toStdString();
        layouts.insert(layout);
    }
    // Two layouts drawn in the same second differ (no clock seeding).
    EXPECT_GT(layouts.size(), 1u);
    EXPECT_TRUE(dialog->findChild<QPushButton*>(QStringLiteral("okButton"))->text().isEmpty());
    EXPECT_TRUE(dialog->findChild<QPushButton*>(QStringLiteral("backspaceButton"))->text().isEmpty());

    // Clicking by label after a relayout types that digit; earlier digits stay.
    Type("7");
    EXPECT_EQ(PinOf(*dialog), QStringLiteral("127"));
}

TEST_F(Keyboard, LengthBoundsAndLengthNotice)
{
    QSignalSpy accepted(dialog, &QDialog::accepted);
    Type("123");
    Ok();
    EXPECT_EQ(dialog->GetRetCode(), 1);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(PinOf(*dialog), QString());
    EXPECT_TRUE(Dots(dialog).isEmpty());
    auto* notice = dialog->findChild<PinLengthErrorDialog*>();
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    EXPECT_EQ(notice->parentWidget(), dialog);
    EXPECT_EQ(Overlays(backdrop.get()), 1);  // the notice adds none
    ClickButton(notice, "closeButton");
    EXPECT_FALSE(notice->isVisible());
    EXPECT_TRUE(dialog->isVisible());

    Type("123456789");
    EXPECT_EQ(PinOf(*dialog), QStringLiteral("12345678"));
    EXPECT_EQ(Dots(dialog).size(), 8);
    Ok();
    EXPECT_EQ(accepted.count(), 1);
    EXPECT_EQ(dialog->GetRetCode(), 0);
    EXPECT_EQ(PinOf(*dialog), QStringLiteral("12345678"));
}

TEST_F(Keyboard, MissingBoundsStillNeedADigitAndAllowTwelve)
{
    dialog->SetMinMaxPinLength(0, 0);
    Ok();
    EXPECT_EQ(dialog->GetRetCode(), 1);
    Type("1234567890123");
    EXPECT_EQ(PinOf(*dialog), QStringLiteral("123456789012"));
    for (Pixmap* dot : Dots(dialog)) {
        EXPECT_GE(dot->geometry().left(), 0.0);
        EXPECT_LE(dot->geometry().right(), 226.0);
    }
    Ok();
    EXPECT_EQ(dialog->GetRetCode(), 0);
}

TEST_F(Keyboard, PhysicalKeys)
{
    QSignalSpy rejected(dialog, &QDialog::rejected);
    QTest::keyClick(dialog, Qt::Key_Backspace);
    EXPECT_EQ(PinOf(*dialog), QString());
    QTest::keyClick(dialog, Qt::Key_5);
    TypePin(dialog, QStringLiteral("5"));
    EXPECT_EQ(PinOf(*dialog), QStringLiteral("55"));
    EXPECT_EQ(Dots(dialog).size(), 2);
    QTest::keyClick(dialog, Qt::Key_Backspace);
    EXPECT_EQ(PinOf(*dialog), QStringLiteral("5"));
    EXPECT_EQ(Dots(dialog).size(), 1);

    // Control chords deliver control characters as text: nothing is typed.
    QTest::sendKeyEvent(QTest::Press, dialog, Qt::Key_5, QString(QChar(0x1d)), Qt::ControlModifier);
    QTest::sendKeyEvent(QTest::Press, dialog, Qt::Key_2, QString(QChar(0)), Qt::ControlModifier);
    QTest::sendKeyEvent(QTest::Press, dialog, Qt::Key_3, QStringLiteral("3"), Qt::AltModifier);
    // The digit comes from the key code, not from the event text.
    QTest::sendKeyEvent(QTest::Press, dialog, Qt::Key_6, QString(), Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Press, dialog, Qt::Key_7, QStringLiteral("7"), Qt::KeypadModifier);
    EXPECT_EQ(PinOf(*dialog), QStringLiteral("567"));

    QTest::keyClick(dialog, Qt::Key_Escape);
    QTest::keyClick(dialog, Qt::Key_Space);
    QTest::keyClick(dialog, Qt::Key_A);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(rejected.count(), 0);
    EXPECT_EQ(PinOf(*dialog), QStringLiteral("567"));

    QTest::keyClick(dialog, Qt::Key_Return);
    EXPECT_EQ(dialog->GetRetCode(), 1);  // too short: cleared
    QTest::keyClick(dialog, Qt::Key_1);
    QTest::keyClick(dialog, Qt::Key_2);
    QTest::keyClick(dialog, Qt::Key_3);
    QTest::keyClick(dialog, Qt::Key_4);
    QTest::keyClick(dialog, Qt::Key_Enter);
    EXPECT_EQ(dialog->GetRetCode(), 0);
    EXPECT_EQ(PinOf(*dialog), QStringLiteral("1234"));
}

TEST_F(Keyboard, LabelsAndCallerText)
{
    dialog->SetRemainingAttemps(-1);
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("label_3"))->isHidden());
    EXPECT_TRUE(dialog->findChild<QLabel*>(QStringLiteral("label_2"))->isHidden());
    dialog->SetRemainingAttemps(2);
    EXPECT_EQ(LabelText(dialog, "label_3"), QStringLiteral("2"));
    EXPECT_FALSE(dialog->findChild<QLabel*>(QStringLiteral("label_3"))->isHidden());

    dialog->SetLabel(3);
    EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("label"))->accessibleDescription(),
              QStringLiteral("Please enter your PIN"));
    dialog->SetLabel(5);
    EXPECT_TRUE(LabelText(dialog, "label").isEmpty());

    auto heading = [&] { return LabelText(dialog, "label_4"); };
    dialog->SetTextLabel(nullptr);
    EXPECT_EQ(heading(), QStringLiteral("User confirmation"));
    const unsigned char marker[] = {0};
    HexBinary markerOnly(marker, 1, true);
    dialog->SetTextLabel(&markerOnly);
    EXPECT_EQ(heading(), QString());
    const unsigned char stops[] = {0, 'A', 'B', 0, 'C'};
    HexBinary withZero(stops, sizeof stops, true);
    dialog->SetTextLabel(&withZero);
    EXPECT_EQ(heading(), QStringLiteral("AB"));
    const std::string markup = std::string(1, '\0') + "<b>x</b><img src=\"/etc/passwd\">";
    HexBinary html(reinterpret_cast<const unsigned char*>(markup.data()), static_cast<int>(markup.size()), true);
    dialog->SetTextLabel(&html);
    EXPECT_EQ(heading(), QString::fromStdString(markup.substr(1)));
    EXPECT_EQ(dialog->findChild<QLabel*>(QStringLiteral("label_4"))->textFormat(), Qt::PlainText);
    const unsigned char invalid[] = {0, 0xff, 0xfe, 0xc3};
    HexBinary bad(invalid, sizeof invalid, true);
    dialog->SetTextLabel(&bad);  // replaced characters, no crash
    EXPECT_FALSE(heading().isEmpty());
}

TEST_F(Keyboard, DotsSpreadEvenlyInTheDisplay)
{
    auto* view = dialog->findChild<QGraphicsView*>(QStringLiteral("graphicsView"));
    EXPECT_EQ(view->viewport()->size(), QSize(226, 70));  // no frame, no scroll bars
    Type("12345678");
    const QList<Pixmap*> dots = Dots(dialog);
    ASSERT_EQ(dots.size(), 8);
    QList<double> xs;
    for (Pixmap* dot : dots) {
        EXPECT_NEAR(dot->geometry().top(), 26.0, 0.01);
        EXPECT_NEAR(dot->geometry().width(), 18.0, 0.01);
        xs.append(dot->geometry().left());
    }
    std::sort(xs.begin(), xs.end());
    // gap = (226 - 8 * 18) / 9: equal gaps at both ends and between dots.
    const double gap = (226.0 - 8 * 18.0) / 9;
    for (int i = 0; i < xs.size(); ++i)
        EXPECT_NEAR(xs[i], gap + i * (18.0 + gap), 0.01) << i;
}

// ---- message dialogs ------------------------------------------------------

class Messages : public ::testing::Test {
protected:
    void SetUp() override
    {
        backdrop = std::make_unique<QMainWindow>();
        backdrop->resize(800, 800);
        backdrop->show();
    }
    std::unique_ptr<QMainWindow> backdrop;
};

TEST_F(Messages, WrongPinCounter)
{
    auto* d = new PinErrorDialog(backdrop.get(), kDialogWindowFlags);
    auto* counter = d->findChild<QLabel*>(QStringLiteral("retryCounter"));
    auto* counterLabel = d->findChild<QLabel*>(QStringLiteral("retryCounterLabel"));
    d->Show(3);
    const struct {
        int attempts;
        bool shown;
        const char* text;
        const char* counterColour;
    } rows[] = {
        {3, true, "3", "rgb(189, 10, 38)"},
        {1, true, "1", "color: red"},
        {0, true, "0", "rgb(189, 10, 38)"},
        {-1, false, nullptr, nullptr},
    };
    for (const auto& row : rows) {
        d->SetRetryCounter(row.attempts);
        EXPECT_EQ(counter->isVisible(), row.shown) << row.attempts;
        EXPECT_EQ(counterLabel->isVisible(), row.shown) << row.attempts;
        if (!row.shown)
            continue;
        EXPECT_EQ(counter->text(), QString::fromLatin1(row.text));
        EXPECT_TRUE(counter->styleSheet().contains(QLatin1String(row.counterColour))) << row.attempts;
        EXPECT_TRUE(counterLabel->styleSheet().contains(QStringLiteral("rgb(189, 10, 38)"))) << row.attempts;
    }
}

TEST_F(Messages, PinPadNoticeAttempts)
{
    auto* d = new PinPadRequestDialog(backdrop.get(), kDialogWindowFlags);
    d->SetRemainingAttemps(0);
    EXPECT_EQ(LabelText(d, "label_3"), QStringLiteral("0"));
    EXPECT_FALSE(LabelText(d, "label_2").isEmpty());
    d->SetRemainingAttemps(-1);
    EXPECT_TRUE(LabelText(d, "label_2").isEmpty());
    EXPECT_TRUE(LabelText(d, "label_3").isEmpty());
    EXPECT_TRUE(d->findChildren<QPushButton*>().isEmpty());
}

TEST_F(Messages, LabelsByPinType)
{
    auto* wrong = new PinErrorDialog(backdrop.get(), kDialogWindowFlags);
    auto* blocked = new PinBlockedErrorDialog(backdrop.get(), kDialogWindowFlags);
    auto* length = new PinLengthErrorDialog(backdrop.get(), kDialogWindowFlags, true);
    const struct {
        int type;
        const char* wrong;
        const char* blocked;
        const char* length;
    } rows[] = {
        {0, "Incorrect BOK value", "Blocked BOK value", "Incorrect BOK value length"},
        {1, "Incorrect PIN value", "Blocked PIN value", "Incorrect PIN value length"},
        {3, "Incorrect PIN value", "Blocked PIN value", "Incorrect PIN value length"},
    };
    for (const auto& row : rows) {
        wrong->SetLabel(row.type);
        blocked->SetLabel(row.type);
        length->SetLabel(row.type);
        EXPECT_EQ(LabelText(wrong, "pinFailedLabel"), QString::fromLatin1(row.wrong));
        EXPECT_EQ(LabelText(blocked, "label"), QString::fromLatin1(row.blocked));
        EXPECT_EQ(LabelText(length, "label"), QString::fromLatin1(row.length));
    }
    // PUK keeps the form's own (BOK) wording.
    auto* freshWrong = new PinErrorDialog(backdrop.get(), kDialogWindowFlags);
    freshWrong->SetLabel(2);
    EXPECT_EQ(LabelText(freshWrong, "pinFailedLabel"), QStringLiteral("Incorrect BOK value"));

    length->Show(QString());
    EXPECT_EQ(Overlays(backdrop.get()), 1);  // the worker's length dialog dims
    length->Show(QStringLiteral("Other text"));
    EXPECT_EQ(LabelText(length, "label"), QStringLiteral("Other text"));
}

// ---- texts and resources --------------------------------------------------

struct CatalogueEntry {
    QString context, source, translation;
};

// The live entries of an embedded TS source (vanished and obsolete ones skipped).
std::vector<CatalogueEntry> ReadCatalogueSource(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    std::vector<CatalogueEntry> entries;
    QXmlStreamReader xml(&file);
    QString context;
    CatalogueEntry entry;
    bool live = true;
    while (!xml.atEnd()) {
        if (!xml.readNextStartElement()) {
            if (xml.isEndElement() && xml.name() == QLatin1String("message") && live)
                entries.push_back(entry);
            continue;
        }
        if (xml.name() == QLatin1String("name")) {
            context = xml.readElementText();
        } else if (xml.name() == QLatin1String("message")) {
            entry = CatalogueEntry{context, {}, {}};
            live = true;
        } else if (xml.name() == QLatin1String("source")) {
            entry.source = xml.readElementText();
        } else if (xml.name() == QLatin1String("translation")) {
            live = xml.attributes().value(QLatin1String("type")).isEmpty();
            entry.translation = xml.readElementText();
        }
    }
    return entries;
}

// With the Slovak catalogue no English text may remain in the dialogs: this
// catches a form or code string that differs from its catalogue entry.
TEST(Texts, SlovakDialogsShowNoEnglish)
{
    QTranslator translator;
    ASSERT_TRUE(translator.load(QStringLiteral("virtualkeyboard_sk.qm"), QStringLiteral(":/VestrinaApp")));
    QCoreApplication::installTranslator(&translator);
    std::set<QString> english;
    for (const CatalogueEntry& entry : ReadCatalogueSource(QStringLiteral(":/VestrinaApp/virtualkeyboard_sk.ts")))
        if (entry.source != entry.translation)
            english.insert(entry.source);
    english.insert(QStringLiteral("Please enter your PIN"));
    english.insert(QStringLiteral("Incorrect PIN value"));

    QMainWindow backdrop;
    std::vector<QDialog*> dialogs;
    auto* keyboard = new VirtualKeyDialog(&backdrop, kDialogWindowFlags);
    keyboard->SetLabel(1);
    EXPECT_EQ(keyboard->findChild<QLabel*>(QStringLiteral("label"))->accessibleDescription(),
              QStringLiteral("Prosím vložte Váš KEP PIN"));
    keyboard->SetLabel(3);
    dialogs.push_back(keyboard);
    auto* wrong = new PinErrorDialog(&backdrop, kDialogWindowFlags);
    wrong->SetLabel(3);
    dialogs.push_back(wrong);
    auto* blocked = new PinBlockedErrorDialog(&backdrop, kDialogWindowFlags);
    blocked->SetLabel(3);
    dialogs.push_back(blocked);
    auto* length = new PinLengthErrorDialog(&backdrop, kDialogWindowFlags, true);
    length->SetLabel(3);
    dialogs.push_back(length);
    auto* pad = new PinPadRequestDialog(&backdrop, kDialogWindowFlags);
    pad->SetLabel(1);
    EXPECT_TRUE(LabelText(pad, "label").contains(QStringLiteral("KEP PIN")));
    pad->SetLabel(3);
    dialogs.push_back(pad);

    for (QDialog* dialog : dialogs) {
        std::vector<QString> texts{dialog->windowTitle()};
        for (QLabel* label : dialog->findChildren<QLabel*>())
            texts.insert(texts.end(), {label->text(), label->accessibleName(), label->accessibleDescription()});
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
            texts.insert(texts.end(), {button->text(), button->accessibleName(), button->accessibleDescription()});
        for (QWidget* widget : dialog->findChildren<QWidget*>())
            texts.insert(texts.end(), {widget->accessibleName(), widget->accessibleDescription()});
        for (const QString& text : texts)
            EXPECT_EQ(english.count(text), 0u) << dialog->metaObject()->className() << ": " << text.toStdString();
    }
    QCoreApplication::removeTranslator(&translator);
}

}  // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Test discovery at build time runs this program without a display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InitResources();
    return RUN_ALL_TESTS();
}
