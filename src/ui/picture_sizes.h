#pragma once

// The sizes at which the root menu shows its captioned pictures. The build-time painter draws them
// at twice these sizes, with captions that read at arm's length when shown at these.
namespace PictureSize {
constexpr int kMenuWidth = 96; // the four menu entries, every language alike
constexpr int kMenuHeight = 64;
constexpr int kToolWidth = 40; // the four tools of the tools row
constexpr int kToolHeight = 36;
}
