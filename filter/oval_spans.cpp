#include "filter/oval_spans.hpp"

#include <algorithm>
#include <cmath>

namespace veilcam {
namespace {

// The whole numbers at or below and at or above `value` (within int's
// range), without the branches std::floor and cvFloor take where SSE4.1's
// rounding is not assumed.
int floor_of(float value) {
    const int truncated = static_cast<int>(value);
    return truncated - (static_cast<float>(truncated) > value);
}

int ceil_of(float value) {
    const int truncated = static_cast<int>(value);
    return truncated + (static_cast<float>(truncated) < value);
}

} // namespace

// Written without branches, so that the compiler works out several rows at
// once: one at a time, their latency made a tenth of hiding a frame.
void hidden_spans(cv::Size view, const FrameFormat& format, int plane, const cv::Rect& area,
                  const cv::Rect2f& oval, RowSpans& spans) {
    const PlaneFormat& p = format.planes[plane];
    const float across = static_cast<float>(1 << p.x_shift);
    const float down = static_cast<float>(1 << p.y_shift);
    const bool shared_chroma = alternates_chroma(format, plane);
    const float middle_x = oval.x + oval.width / 2, middle_y = oval.y + oval.height / 2;
    const float ax = oval.width / 2, ay = oval.height / 2;
    // The half width at height dy is ax / ay * sqrt(ay^2 - dy^2), and a
    // plane's sample is a power of two pixels across: no division a row.
    const float width_per_height = ax / ay;
    const float samples_per_pixel = 1.0f / across;
    spans.resize(static_cast<size_t>(view.height));
    cv::Range* const out = spans.data();
    for (int y = 0; y < view.height; ++y) {
        // The row of frame pixels nearest the middle decides.
        const float top = static_cast<float>(area.y + y) * down;
        const float dy = std::min(std::max(middle_y, top), top + down) - middle_y;
        const float rest = ay * ay - dy * dy;
        const float half = width_per_height * std::sqrt(std::max(rest, 0.0f));
        int first = floor_of((middle_x - half) * samples_per_pixel) - area.x;
        int last = ceil_of((middle_x + half) * samples_per_pixel) - 1 - area.x;
        if (shared_chroma) {
            first -= (area.x + first) & 1;
            last += 1 - ((area.x + last) & 1);
        }
        first = std::min(std::max(first, 0), view.width);
        last = std::min(std::max(last, -1), view.width - 1);
        const bool inside = rest > 0.0f && first <= last; // false for an oval of no number
        out[y] = inside ? cv::Range(first, last + 1) : cv::Range(view.width, view.width);
    }
}

const RowSpans& HiddenSpans::of(const FrameFormat& format, int plane, const cv::Rect& area,
                                const cv::Rect2f& oval) {
    const PlaneFormat& p = format.planes[plane];
    const bool shared_chroma = alternates_chroma(format, plane);
    auto made_from = [&](const Made& m) {
        return m.area == area && m.oval == oval && m.x_shift == p.x_shift &&
               m.y_shift == p.y_shift && m.shared_chroma == shared_chroma;
    };
    if (given_ > 0 && made_from(made_[given_ - 1])) {
        return made_[given_ - 1].spans;
    }
    if (given_ == made_.size()) {
        made_.emplace_back();
    }
    Made& m = made_[given_++];
    if (!made_from(m)) {
        hidden_spans(area.size(), format, plane, area, oval, m.spans);
        m.area = area;
        m.oval = oval;
        m.x_shift = p.x_shift;
        m.y_shift = p.y_shift;
        m.shared_chroma = shared_chroma;
    }
    return m.spans;
}

void chroma_spans(const RowSpans& spans, int first, RowSpans& chroma) {
    chroma.resize(spans.size());
    for (size_t y = 0; y < spans.size(); ++y) {
        chroma[y] = cv::Range((spans[y].start - first + 1) / 2, (spans[y].end - first + 1) / 2);
    }
}

} // namespace veilcam
