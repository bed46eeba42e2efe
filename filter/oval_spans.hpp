#pragma once

#include "filter/frame_formats.hpp"
#include "filter/region_resample.hpp"

#include <opencv2/core/types.hpp>

#include <vector>

// Which samples of a region lie inside a face's oval, row by row: hiding
// writes those alone.
namespace veilcam {

// The samples of each row of a view (plane pixels of `area`, `view` in
// size) that stay hidden inside `oval` (frame pixels), as a range of
// columns, empty where none does. A sample that covers several frame pixels
// stays hidden when any of them is inside; in packed 4:2:2, where two pixels
// share their chroma, both stay hidden.
void hidden_spans(cv::Size view, const FrameFormat& format, int plane, const cv::Rect& area,
                  const cv::Rect2f& oval, RowSpans& spans);

// The spans of the planes of a frame's faces, kept with what they were
// made from and looked up in the order they were made: the faces come in
// the same order frame after frame, and one that has not moved since the
// frame before (most of a still picture's) has them already, as has a
// face's second chroma plane in planar 4:2:0, 4:2:2 and 4:4:4.
class HiddenSpans {
  public:
    // Before a frame's first face.
    void start_frame() { given_ = 0; }
    const RowSpans& of(const FrameFormat& format, int plane, const cv::Rect& area,
                       const cv::Rect2f& oval);

  private:
    struct Made {
        RowSpans spans;
        cv::Rect area;
        cv::Rect2f oval;
        int x_shift = -1, y_shift = -1;
        bool shared_chroma = false;
    };
    std::vector<Made> made_; // as many as a frame has needed
    size_t given_ = 0;       // this frame's so far
};

// The spans of one chroma image of packed 4:2:2 taken apart: its sample j
// belongs to the view's pixel 2 j + `first`, and is hidden where that pixel
// is.
void chroma_spans(const RowSpans& spans, int first, RowSpans& chroma);

} // namespace veilcam
