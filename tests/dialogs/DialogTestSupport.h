#pragma once
// Helpers that drive the PIN dialogs in tests: find keys by their labels
// (so any layout works), find visible dialogs, wait while events run.

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <functional>

inline QPushButton* KeyFor(QWidget* keyboard, QChar digit)
{
    for (int i = 0; i < 10; ++i) {
        auto* key = keyboard->findChild<QPushButton*>(QStringLiteral("button%1").arg(i));
        if (key && key->text() == digit)
            return key;
    }
    return nullptr;
}

inline void TypePin(QWidget* keyboard, const QString& pin)
{
    for (QChar c : pin)
        QTest::mouseClick(KeyFor(keyboard, c), Qt::LeftButton);
}

inline void ClickButton(QWidget* dialog, const char* name)
{
    QTest::mouseClick(dialog->findChild<QPushButton*>(QString::fromLatin1(name)), Qt::LeftButton);
}

template <class D>
D* FindVisible()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<D*>(w); d && d->isVisible())
            return d;
    return nullptr;
}

inline int VisibleTopLevels()
{
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += w->isVisible() ? 1 : 0;
    return n;
}

// Processes events of the current thread until `done` holds or time runs out.
inline bool SpinUntil(const std::function<bool()>& done, int milliseconds = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}
