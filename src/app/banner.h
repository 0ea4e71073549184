// The credit banner's scroll step, kept apart from the widgets so that its
// single-precision arithmetic can be checked on its own.
#pragma once

namespace fennick::app {

// Window positions are kept in twips, 15 to a pixel at 96 dots per inch.
inline constexpr int kTwipsPerPixel = 15;

// How far the banner moves on each tick, in twips.
inline constexpr float kBannerStep = 100.0f;

// The banner's next left edge, all values in twips. While its right edge
// (width + left) still lies right of the client area's left edge it moves one
// step left; once it is gone (an edge exactly at 0 counts as gone) it jumps to
// the window's outer width and enters again from the right.
float nextBannerLeft(float width, float left, float outerWidth);

// Twips to whole pixels, rounded to the nearest.
int pixelsOf(float twips);

}  // namespace fennick::app
