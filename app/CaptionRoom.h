// Where a caption too wide for its control may grow. The templates' numbers
// come from a system whose font was narrower than some a front end gets, so a
// caption may take room beside its control that no other control uses; the
// arrangement stays the template's. Both windows, Qt and native, ask here.
#pragma once

#include <span>

namespace tarven {

// A control's box in pixels of its dialog, every edge inclusive.
struct CaptionBox {
    int left = 0;
    int top = 0;
    int right = -1;
    int bottom = -1;
    int Width() const { return right - left + 1; }
};

// Which side a caption is anchored to: it grows away from it first.
enum class CaptionAnchor { Left, Center, Right };

struct OtherControl {
    CaptionBox box;
    bool frame = false;  // a group box: a control inside it stays inside its frame
};

// `self` widened towards `neededWidth` pixels, never over another control,
// across the frame of a group box it sits in, or out of the dialog.
CaptionBox GrowCaptionBox(CaptionBox self, int neededWidth, CaptionAnchor anchor, int dialogWidth,
                          std::span<const OtherControl> others);

}  // namespace tarven
