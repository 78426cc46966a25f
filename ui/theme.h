#pragma once

#include "platform/canvas.h"

namespace vokar::ui::theme {

// Colours, fonts and the frame's metrics shared by every screen.
constexpr platform::Color kBackground{255, 255, 255};
constexpr platform::Color kText{20, 20, 20};
constexpr platform::Color kDimText{110, 110, 110};
constexpr platform::Color kBarTop{70, 120, 190};
constexpr platform::Color kBarBottom{25, 65, 130};
constexpr platform::Color kBarText{255, 255, 255};
constexpr platform::Color kSelectionTop{255, 200, 90};
constexpr platform::Color kSelectionBottom{240, 150, 30};
constexpr platform::Color kFrame{150, 160, 175};
constexpr platform::Color kFocusFrame{25, 65, 130};
constexpr platform::Color kFieldBackground{245, 248, 252};
constexpr platform::Color kPopupBackground{250, 250, 250};

constexpr platform::Font kTextFont{9, false};
constexpr platform::Font kBoldFont{9, true};
constexpr platform::Font kTitleFont{10, true};

constexpr int kTitleBarHeight = 22;
constexpr int kSoftKeyBarHeight = 24;
constexpr int kMargin = 4;
constexpr int kRowHeight = 22;

} // namespace vokar::ui::theme
