#include "tools/video/upright.hpp"

extern "C" {
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
}

#include <opencv2/core.hpp>

#include <cmath>

namespace veilcam::video {

int clockwise_turn(const AVStream& stream) {
    const AVPacketSideData* matrix =
        av_packet_side_data_get(stream.codecpar->coded_side_data,
                                stream.codecpar->nb_coded_side_data, AV_PKT_DATA_DISPLAYMATRIX);
    if (!matrix || matrix->size < 9 * static_cast<int>(sizeof(int32_t))) {
        return 0;
    }
    // The matrix turns counter-clockwise; a quarter turn is the finest step.
    const double counter_clockwise =
        av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix->data));
    if (std::isnan(counter_clockwise)) {
        return 0;
    }
    const int quarters = static_cast<int>(std::lround(-counter_clockwise / 90.0));
    return ((quarters % 4) + 4) % 4 * 90;
}

void turn_planes(const AVFrame& from, int degrees, AVFrame& to) {
    const int code = degrees == 90    ? cv::ROTATE_90_CLOCKWISE
                     : degrees == 180 ? cv::ROTATE_180
                                      : cv::ROTATE_90_COUNTERCLOCKWISE;
    const AVPixFmtDescriptor* layout = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(from.format));
    for (int plane = 0; plane < av_pix_fmt_count_planes(static_cast<AVPixelFormat>(from.format));
         ++plane) {
        const int shift_x = plane == 0 ? 0 : layout->log2_chroma_w;
        const int shift_y = plane == 0 ? 0 : layout->log2_chroma_h;
        const cv::Mat source(-((-from.height) >> shift_y), -((-from.width) >> shift_x), CV_8UC1,
                             from.data[plane], from.linesize[plane]);
        cv::Mat target(-((-to.height) >> shift_y), -((-to.width) >> shift_x), CV_8UC1,
                       to.data[plane], to.linesize[plane]);
        cv::rotate(source, target, code);
    }
}

} // namespace veilcam::video
