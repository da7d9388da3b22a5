#pragma once
// The look every window of the program shares: Tahoma 8 pt (11 pixels high), controls placed
// at fixed pixel positions of a fixed-size client area.
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QString>
#include <QWidget>

namespace rovenza {

inline QFont FormFont() {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(11);
    return font;
}

// Creates a control of type W as a child of `form` at the given client position and size,
// named `name` (the name the code uses for it) and in the form's font.
template <class W, class... Args>
W* PlaceControl(QWidget* form, const char* name, int left, int top, int width, int height,
                Args&&... args) {
    auto* control = new W(std::forward<Args>(args)..., form);
    control->setObjectName(QString::fromLatin1(name));
    control->setFont(FormFont());
    control->setGeometry(left, top, width, height);
    return control;
}

// A label keeps its place and grows to the right when the font in use (Tahoma may be missing)
// needs more room for its caption than the design gave it; it never shrinks.
inline void WidenToCaption(QLabel* label) {
    const int wanted = label->fontMetrics().horizontalAdvance(label->text());
    if (wanted > label->width()) label->resize(wanted, label->height());
}

inline void SetTextColor(QWidget* control, const QColor& color) {
    QPalette palette = control->palette();
    palette.setColor(QPalette::WindowText, color);
    control->setPalette(palette);
}

// Title bar with the close box only: no minimise or maximise box, no resizing.
inline constexpr Qt::WindowFlags kCloseBoxOnly = Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

}  // namespace rovenza
