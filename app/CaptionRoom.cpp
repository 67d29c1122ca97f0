#include "CaptionRoom.h"

#include <algorithm>
#include <utility>

namespace tarven {
namespace {

constexpr int kGap = 2;  // pixels kept from a neighbour and the dialog's edge

bool Contains(const CaptionBox& outer, const CaptionBox& inner) {
    return outer.left <= inner.left && inner.right <= outer.right && outer.top <= inner.top &&
           inner.bottom <= outer.bottom;
}

// How far `self` may reach left and right.
std::pair<int, int> FreeSpan(const CaptionBox& r, int dialogWidth, std::span<const OtherControl> others) {
    int left = kGap, right = dialogWidth - kGap;
    for (const OtherControl& other : others) {
        const CaptionBox& o = other.box;
        if (other.frame && Contains(o, r)) {
            left = std::max(left, o.left + kGap * 3);
            right = std::min(right, o.right - kGap * 3);
            continue;
        }
        if (o.bottom < r.top || o.top > r.bottom) continue;
        if (o.left >= r.right) right = std::min(right, o.left - kGap);
        else if (o.right <= r.left) left = std::max(left, o.right + kGap);
    }
    return {left, right};
}

}  // namespace

CaptionBox GrowCaptionBox(CaptionBox r, int neededWidth, CaptionAnchor anchor, int dialogWidth,
                          std::span<const OtherControl> others) {
    if (neededWidth <= r.Width()) return r;
    const auto [left, right] = FreeSpan(r, dialogWidth, others);
    auto growLeft = [&](int by) { r.left = std::max(left, r.left - std::max(by, 0)); };
    auto growRight = [&](int by) { r.right = std::min(right, r.right + std::max(by, 0)); };
    // Grow on the side the anchor points away from; when that side is
    // blocked, take what the other side has.
    switch (anchor) {
        case CaptionAnchor::Right:
            growLeft(neededWidth - r.Width());
            growRight(neededWidth - r.Width());
            break;
        case CaptionAnchor::Center: {
            const int half = (neededWidth - r.Width() + 1) / 2;
            growLeft(half);
            growRight(half);
            growLeft(neededWidth - r.Width());
            break;
        }
        case CaptionAnchor::Left:
            growRight(neededWidth - r.Width());
            growLeft(neededWidth - r.Width());
            break;
    }
    return r;
}

}  // namespace tarven
