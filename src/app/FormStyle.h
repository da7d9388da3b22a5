#pragma once
// The look every window of the program shares: Tahoma 8 pt (11 pixels high), controls placed
// at fixed pixel positions of a fixed-size client area.
#include <string>
#include <string_view>
#include <type_traits>

#include <QFont>
#include <QPalette>
#include <QString>
#include <QWidget>

#include "frontend/FitCaptions.h"
#include "frontend/Forms.h"

namespace rovenza {

// Where Debian's fonts-wine package puts Wine's Tahoma. Fontconfig does not search Wine's font
// folder, so the program adds the file to its own fonts.
inline constexpr char kWineTahomaFile[] = "/usr/share/wine/fonts/tahoma.ttf";

inline QFont FormFont() {
    QFont font(QString::fromLatin1(kFormFontFamily.data(), static_cast<qsizetype>(kFormFontFamily.size())));
    font.setPixelSize(kFormFontPixels);
    return font;
}

// Whether FormFont() resolves to Tahoma itself rather than a substitute.
bool FormFontAvailable();

// Makes Tahoma available to the windows: where the system does not have it, the font file
// `file` (Wine's copy by default) is added to the application's fonts, if it exists. Needs the
// application object. Returns FormFontAvailable() afterwards.
bool InstallFormFont(const QString& file = QString::fromLatin1(kWineTahomaFile));

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

// The texts of the shared form tables are plain ASCII.
inline QString Latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

// Creates a control of type W as laid out by `layout`: its name, position, size and caption.
template <class W>
W* PlaceControl(QWidget* form, const ControlLayout& layout) {
    const std::string name(layout.name);
    if constexpr (std::is_constructible_v<W, QString, QWidget*>) {
        if (!layout.caption.empty())
            return PlaceControl<W>(form, name.c_str(), layout.left, layout.top, layout.width, layout.height, Latin1(layout.caption));
    }
    return PlaceControl<W>(form, name.c_str(), layout.left, layout.top, layout.width, layout.height);
}

// The width that a label, push button or check box has for its caption in its current font
// and size, and the width its caption needs; both 0 for any other control.
int CaptionRoom(const QWidget* control);
int CaptionWidth(const QWidget* control);

// Fits the form's captions to the font in use (see frontend/FitCaptions.h): with Tahoma
// nothing moves.
void FitCaptions(QWidget* form);

inline void SetTextColor(QWidget* control, const QColor& color) {
    QPalette palette = control->palette();
    palette.setColor(QPalette::WindowText, color);
    control->setPalette(palette);
}

// Title bar with the close box only: no minimise or maximise box, no resizing.
inline constexpr Qt::WindowFlags kCloseBoxOnly = Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

}  // namespace rovenza
