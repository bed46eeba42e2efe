#include "tools/video/frame_convert.hpp"

namespace veilcam::video {

AVFrame* allocate_frame(FramePtr& frame, AVPixelFormat format, int width, int height) {
    frame = make_frame();
    frame->format = format;
    frame->width = width;
    frame->height = height;
    check_av(av_frame_get_buffer(frame.get(), 0), "out of memory for a frame");
    return frame.get();
}

void convert(ScalePtr& scaler, const AVFrame& from, AVFrame& to) {
    scaler.reset(sws_getCachedContext(scaler.release(), from.width, from.height,
                                      static_cast<AVPixelFormat>(from.format), to.width, to.height,
                                      static_cast<AVPixelFormat>(to.format), SWS_BILINEAR, nullptr,
                                      nullptr, nullptr));
    if (!scaler) {
        throw VideoError("cannot convert between these pixel formats");
    }
    sws_scale(scaler.get(), from.data, from.linesize, 0, from.height, to.data, to.linesize);
}

cv::Mat to_bgr(ScalePtr& scaler, const AVFrame& frame, FramePtr& bgr) {
    if (!bgr) {
        allocate_frame(bgr, AV_PIX_FMT_BGR24, frame.width, frame.height);
    }
    convert(scaler, frame, *bgr);
    return cv::Mat(frame.height, frame.width, CV_8UC3, bgr->data[0], bgr->linesize[0]).clone();
}

std::filesystem::path data_beside_tool() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "data";
}

} // namespace veilcam::video
