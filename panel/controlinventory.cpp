// SPDX-License-Identifier: MIT
#include "panel/controlinventory.h"

#include <array>

namespace {

constexpr FontSpec kButtonFont{FontFace::Arial, 12, true, false};
constexpr FontSpec kTextFont{FontFace::Arial, 14, false, false};
constexpr FontSpec kIndicatorFont{FontFace::ArialNarrow, 12, true, false};
constexpr FontSpec kFineFont{FontFace::ArialNarrow, 14, true, false};
constexpr FontSpec kSmallReading{FontFace::ArialNarrow, 23, false, true};
constexpr FontSpec kLargeReading{FontFace::ArialNarrow, 35, false, true};
constexpr FontSpec kNoFont{};

using K = ControlKind;

constexpr std::array kControls = {
    ControlSpec{"Command14", K::Button, 14, "QUIT", 7980, 3980, 852, 372, kButtonFont, nullptr,
                nullptr},
    ControlSpec{"Text1", K::TextBox, 1, "1", 8160, 1760, 492, 372, kTextFont, nullptr, "Number"},
    ControlSpec{"Command13", K::PictureButton, 13, "", 7680, 1680, 400, 520, kButtonFont,
                ":/art/arrow-left.svg", "Left arrow"},
    ControlSpec{"Command12", K::PictureButton, 12, "", 8720, 1680, 400, 520, kButtonFont,
                ":/art/arrow-right.svg", "Right arrow"},
    ControlSpec{"Command11", K::Button, 11, "REM", 5700, 2590, 520, 324, kButtonFont, nullptr,
                nullptr},
    ControlSpec{"Command10", K::Button, 10, "I/O", 5070, 2590, 520, 324, kButtonFont, nullptr,
                nullptr},
    ControlSpec{"Command9", K::Button, 9, "L", 6330, 1860, 520, 324, kButtonFont, nullptr, nullptr},
    ControlSpec{"Command8", K::Button, 8, "F", 6330, 1460, 520, 324, kButtonFont, nullptr, nullptr},
    ControlSpec{"Command7", K::Button, 7, "N", 6330, 1065, 520, 324, kButtonFont, nullptr, nullptr},
    ControlSpec{"Command6", K::Button, 6, "CE", 5700, 1860, 520, 324, kButtonFont, nullptr,
                nullptr},
    ControlSpec{"Command5", K::Button, 5, "ENT", 5700, 1440, 520, 324, kButtonFont, nullptr,
                nullptr},
    ControlSpec{"Command4", K::Button, 4, "u", 5700, 1065, 520, 324, kButtonFont, nullptr, nullptr},
    ControlSpec{"Command3", K::Button, 3, "P", 5070, 1860, 520, 324, kButtonFont, nullptr, nullptr},
    ControlSpec{"Command2", K::Button, 2, "I", 5070, 1460, 520, 324, kButtonFont, nullptr, nullptr},
    ControlSpec{"Command1", K::Button, 1, "U", 5070, 1065, 520, 324, kButtonFont, nullptr, nullptr},
    ControlSpec{"Image5", K::Picture, 5, "", 2700, 1330, 120, 120, kNoFont, ":/art/mark-down.svg",
                "Down mark"},
    ControlSpec{"Image4", K::Picture, 4, "", 2700, 1200, 120, 120, kNoFont, ":/art/mark-up.svg",
                "Up mark"},
    ControlSpec{"Image3", K::Picture, 3, "", 9480, 4200, 480, 480, kNoFont, ":/art/link-lost.svg",
                "Link lost"},
    ControlSpec{"Image2", K::Picture, 2, "", 9480, 4200, 492, 480, kNoFont, ":/art/link-alive.svg",
                "Link alive"},
    ControlSpec{"Label16", K::Label, 16, "remote", 1488, 2630, 612, 228, kIndicatorFont, nullptr,
                nullptr},
    ControlSpec{"Label15", K::Label, 15, "Locked", 2470, 2630, 612, 228, kIndicatorFont, nullptr,
                nullptr},
    ControlSpec{"Label14", K::Label, 14, "On", 3300, 2600, 372, 228, kIndicatorFont, nullptr,
                nullptr},
    ControlSpec{"Label13", K::Label, 13, "Off", 3820, 2600, 372, 228, kIndicatorFont, nullptr,
                nullptr},
    ControlSpec{"Label12", K::Label, 12, "Output", 3400, 2430, 612, 228, kIndicatorFont, nullptr,
                nullptr},
    ControlSpec{"Label11", K::Label, 11, "Overtemp", 3300, 2260, 828, 228, kIndicatorFont, nullptr,
                nullptr},
    ControlSpec{"Label10", K::Label, 10, "P-const", 2800, 2030, 612, 228, kIndicatorFont, nullptr,
                nullptr},
    ControlSpec{"Label9", K::Label, 9, "I-const", 2800, 1700, 612, 228, kIndicatorFont, nullptr,
                nullptr},
    ControlSpec{"Label8", K::Label, 8, "U-const", 2800, 1380, 852, 228, kIndicatorFont, nullptr,
                nullptr},
    ControlSpec{"Label7", K::Label, 7, "fine", 2830, 1130, 612, 228, kFineFont, nullptr, nullptr},
    ControlSpec{"Label6", K::Label, 6, "000", 3390, 1950, 612, 348, kSmallReading, nullptr, nullptr,
                "Watts limit display", "W"},
    ControlSpec{"Label5", K::Label, 5, "0.00", 3355, 1620, 615, 330, kSmallReading, nullptr,
                nullptr, "Amperes limit display", "A"},
    ControlSpec{"Label4", K::Label, 4, "00", 3395, 1300, 432, 312, kSmallReading, nullptr, nullptr,
                "Volts limit display", "V"},
    ControlSpec{"Label3", K::Label, 3, "000.0", 1390, 2170, 1332, 492, kLargeReading, nullptr,
                nullptr, "Watts display", "W"},
    ControlSpec{"Label2", K::Label, 2, "0.000", 1390, 1630, 1308, 492, kLargeReading, nullptr,
                nullptr, "Amperes display", "A"},
    ControlSpec{"Label1", K::Label, 1, "00.00", 1390, 1110, 1320, 495, kLargeReading, nullptr,
                nullptr, "Volts display", "V"},
    ControlSpec{"Image1", K::Picture, 1, "", 120, 120, 10308, 4776, kNoFont, ":/art/frontpanel.svg",
                "Front panel"},
};

} // namespace

std::span<const ControlSpec> controlInventory()
{
    return kControls;
}
