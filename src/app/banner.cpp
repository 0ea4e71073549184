#include "app/banner.h"

#include <cmath>

namespace fennick::app {

float nextBannerLeft(float width, float left, float outerWidth) {
    // The sum is held as a float on purpose: that is the precision in which
    // the toolkit keeps a control's left edge and width.
    const float rightEdge = width + left;
    if (rightEdge > 0.0f)
        return left - kBannerStep;
    return outerWidth;
}

int pixelsOf(float twips) {
    return static_cast<int>(std::lround(twips / static_cast<float>(kTwipsPerPixel)));
}

}  // namespace fennick::app
