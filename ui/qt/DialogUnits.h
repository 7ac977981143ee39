#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <QStringList>

// The dialogs are laid out in dialog units, as their templates give them. For
// the dialogs' 8-point font a horizontal unit is a quarter of the average
// character width (6 pixels) and a vertical unit an eighth of the character
// height (13 pixels). Edges are converted, not sizes, so that controls that
// touch in units touch in pixels.
inline constexpr int kDialogBaseX = 6;
inline constexpr int kDialogBaseY = 13;

inline constexpr int DialogX(int units)
{
    return (units * kDialogBaseX + 2) / 4;
}
inline constexpr int DialogY(int units)
{
    return (units * kDialogBaseY + 4) / 8;
}

inline QRect DialogRect(int x, int y, int width, int height)
{
    return QRect(DialogX(x), DialogY(y), DialogX(x + width) - DialogX(x),
                 DialogY(y + height) - DialogY(y));
}

inline QSize DialogSize(int width, int height)
{
    return QSize(DialogX(width), DialogY(height));
}

// Puts a control where the template has it.
template <typename Widget> Widget* Place(Widget* widget, int x, int y, int width, int height)
{
    widget->setGeometry(DialogRect(x, y, width, height));
    return widget;
}

// The dialogs' font: 8-point "MS Sans Serif" where it exists, else a narrow
// sans of the same height, so that the captions fit the template's sizes.
inline QFont DialogFont()
{
    QFont font;
    font.setFamilies(
        QStringList{QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans Condensed"),
                    QStringLiteral("Liberation Sans Narrow"), QStringLiteral("DejaVu Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(10);
    return font;
}
