#pragma once

// Key codes of the front panel as the input layer delivers them; pages act on release.
namespace PanelKey {
constexpr int OK = 0x01000035;
constexpr int Left = 0x01000033;
constexpr int Right = 0x01000034;
constexpr int Mode = 0x01000063;
constexpr int Back = 0x010000B7;
}
