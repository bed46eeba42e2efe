#pragma once

#include "filter/frame_formats.hpp"
#include "filter/region_resample.hpp"

#include <opencv2/core/types.hpp>

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

// A plane's spans kept with what they were made from: a face's second
// chroma plane (planar 4:2:0, 4:2:2 and 4:4:4) has the first one's.
class HiddenSpans {
  public:
    const RowSpans& of(const FrameFormat& format, int plane, const cv::Rect& area,
                       const cv::Rect2f& oval);

  private:
    RowSpans spans_;
    cv::Rect area_;
    cv::Rect2f oval_;
    int x_shift_ = -1, y_shift_ = -1;
    bool shared_chroma_ = false;
};

// The spans of one chroma image of packed 4:2:2 taken apart: its sample j
// belongs to the view's pixel 2 j + `first`, and is hidden where that pixel
// is.
void chroma_spans(const RowSpans& spans, int first, RowSpans& chroma);

} // namespace veilcam
