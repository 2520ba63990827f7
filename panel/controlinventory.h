// SPDX-License-Identifier: MIT
#pragma once

#include <span>

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
};

// Front to back: Image1 is last and lies behind everything.
std::span<const ControlSpec> controlInventory();
