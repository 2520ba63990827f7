// SPDX-License-Identifier: MIT
#pragma once

#include <span>

// Plain C++ without Qt, so that a program without widgets (the web page) can
// lay out the same panel.

// The panel is laid out in twips (1/1440 inch); at 96 dpi 15 twips make one
// logical pixel. Every position and size goes through this one conversion,
// rounded to the nearest pixel, so that neighbouring controls stay aligned.
constexpr int kTwipsPerPixel = 15;

constexpr int twipsToPixels(int twips)
{
    return (2 * twips + kTwipsPerPixel) / (2 * kTwipsPerPixel);
}

// The client area below the menu bar: 10515 x 4965 twips.
constexpr int kClientWidth = 701;
constexpr int kClientHeight = 331;

// The arrow buttons' icons, square, in pixels.
constexpr int kArrowIconPixels = 16;

struct Rgb
{
    int red, green, blue;
};

// The colours the panel paints itself; everything else is the style's.
namespace PanelColour {
inline constexpr Rgb ButtonFace{255, 255, 192};
inline constexpr Rgb TextBoxBackground{192, 192, 255};
inline constexpr Rgb WindowBackground{192, 192, 192};
} // namespace PanelColour

// Every control of the front panel as the window stores it: name, kind,
// caption, geometry in twips, font and picture. Listed front to back.
enum class ControlKind
{
    Button,
    PictureButton,
    TextBox,
    Label,
    Picture
};

enum class FontFace
{
    None,
    Arial,
    ArialNarrow
};

struct FontSpec
{
    FontFace face = FontFace::None;
    int pixelSize = 0; // 9, 10.5, 17.25 and 26.25 pt at 96 dpi
    bool bold = false;
    bool italic = false;
};

struct ControlSpec
{
    const char *name;
    ControlKind kind;
    int number; // CommandN, LabelN, ImageN; 1 for Text1
    const char *caption;
    int left, top, width, height; // twips
    FontSpec font;
    const char *art;            // Qt resource path of its picture, if any
    const char *accessibleName; // for controls without a caption
    // What a display means, for screen readers: its caption is only digits.
    const char *accessibleDescription = nullptr;
    // The unit of a display's reading ("V"), said after its digits.
    const char *unit = nullptr;
};

// Front to back: Image1 is last and lies behind everything.
std::span<const ControlSpec> controlInventory();
