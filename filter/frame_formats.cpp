#include "filter/frame_formats.hpp"

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

namespace veilcam {

const FrameFormat* frame_format(video_format format) {
    // Planar YUV formats are detected on their luma plane alone: a grey
    // picture is all the detectors need and costs one plane.
    static const FrameFormat luma{CV_8UC1, cv::COLOR_GRAY2BGR, 0, true};
    // Packed YUV shares chroma between neighbouring pixels.
    static const FrameFormat yuy2{CV_8UC2, cv::COLOR_YUV2BGR_YUY2, 2, false};
    static const FrameFormat uyvy{CV_8UC2, cv::COLOR_YUV2BGR_UYVY, 2, false};
    // Four channels shrink slower than three: converted first.
    static const FrameFormat rgba{CV_8UC4, cv::COLOR_RGBA2BGR, 4, false};
    static const FrameFormat bgra{CV_8UC4, cv::COLOR_BGRA2BGR, 4, false};
    static const FrameFormat bgr3{CV_8UC3, -1, 3, true};

    switch (format) {
    case VIDEO_FORMAT_I420:
    case VIDEO_FORMAT_NV12:
    case VIDEO_FORMAT_Y800:
    case VIDEO_FORMAT_I444:
    case VIDEO_FORMAT_I422:
        return &luma;
    case VIDEO_FORMAT_YUY2:
        return &yuy2;
    case VIDEO_FORMAT_UYVY:
        return &uyvy;
    case VIDEO_FORMAT_RGBA:
        return &rgba;
    case VIDEO_FORMAT_BGRA:
    case VIDEO_FORMAT_BGRX:
        return &bgra;
    case VIDEO_FORMAT_BGR3:
        return &bgr3;
    default:
        return nullptr;
    }
}

cv::Mat wrap_plane0(const obs_source_frame& frame, const FrameFormat& format) {
    return cv::Mat(static_cast<int>(frame.height), static_cast<int>(frame.width),
                   format.plane0_type, frame.data[0], frame.linesize[0]);
}

void convert_to_bgr(const cv::Mat& plane, const FrameFormat& format, cv::Mat& bgr) {
    if (format.to_bgr < 0) {
        plane.copyTo(bgr);
    } else {
        cv::cvtColor(plane, bgr, format.to_bgr);
    }
}

} // namespace veilcam
