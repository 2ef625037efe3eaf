#pragma once
// The translucent black overlay that dims the backdrop behind a dialog.

#include <QWidget>

class CrepuscularWidget : public QWidget {
    Q_OBJECT
public:
    // A child of `parent` that keeps covering it when it is resized (the
    // backdrop's full-screen size may arrive after the overlay was made).
    explicit CrepuscularWidget(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// Lays a new overlay named "crepuscularWidget" over `backdrop`, shows it and
// raises the backdrop. The overlay belongs to the backdrop.
void ActivateCrepuscularOverlay(QWidget* backdrop);
