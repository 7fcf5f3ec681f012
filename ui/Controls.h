#pragma once

#include <QLabel>
#include <QPushButton>

class QPainter;

// The frame of a window of fixed size: title, system menu, minimise and close,
// and no maximise button, which could do nothing.
constexpr Qt::WindowFlags FixedWindowFlags = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                             Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                                             Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;
// The same for dialogs and message boxes: title and close only.
constexpr Qt::WindowFlags FixedDialogFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                             Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint;

// The dotted focus rectangle of the classic controls, drawn so that it shows
// on light buttons and on the dark panel alike (each dot inverts what is under it).
void drawFocusRect(QPainter& painter, const QRect& rect);

// A command button that draws the classic focus rectangle inside its edge
// while it has the keyboard focus.
class FocusButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A one-line label that cuts a text too long for it in the middle with "…",
// so both ends of a path stay visible; the whole text is its tool tip then.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

    void setCaption(const QString& caption);
    // The text as drawn at the label's present width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateToolTip();
};
