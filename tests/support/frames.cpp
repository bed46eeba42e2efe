#include "support/frames.hpp"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace veilcam::test {
namespace {

constexpr uint8_t kPaddingByte = 0xA5;

// Each host format as FFmpeg names it; V210 and R10L are made from the
// formats beside them.
const std::pair<video_format, AVPixelFormat> kFfmpegFormats[] = {
    {VIDEO_FORMAT_I420, AV_PIX_FMT_YUV420P},      {VIDEO_FORMAT_NV12, AV_PIX_FMT_NV12},
    {VIDEO_FORMAT_YUY2, AV_PIX_FMT_YUYV422},      {VIDEO_FORMAT_UYVY, AV_PIX_FMT_UYVY422},
    {VIDEO_FORMAT_RGBA, AV_PIX_FMT_RGBA},         {VIDEO_FORMAT_BGRA, AV_PIX_FMT_BGRA},
    {VIDEO_FORMAT_BGRX, AV_PIX_FMT_BGR0},         {VIDEO_FORMAT_Y800, AV_PIX_FMT_GRAY8},
    {VIDEO_FORMAT_I444, AV_PIX_FMT_YUV444P},      {VIDEO_FORMAT_BGR3, AV_PIX_FMT_BGR24},
    {VIDEO_FORMAT_I422, AV_PIX_FMT_YUV422P},      {VIDEO_FORMAT_YVYU, AV_PIX_FMT_YVYU422},
    {VIDEO_FORMAT_I40A, AV_PIX_FMT_YUVA420P},     {VIDEO_FORMAT_I42A, AV_PIX_FMT_YUVA422P},
    {VIDEO_FORMAT_YUVA, AV_PIX_FMT_YUVA444P},     {VIDEO_FORMAT_AYUV, AV_PIX_FMT_VUYA},
    {VIDEO_FORMAT_I010, AV_PIX_FMT_YUV420P10LE},  {VIDEO_FORMAT_P010, AV_PIX_FMT_P010LE},
    {VIDEO_FORMAT_I210, AV_PIX_FMT_YUV422P10LE},  {VIDEO_FORMAT_I412, AV_PIX_FMT_YUV444P12LE},
    {VIDEO_FORMAT_YA2L, AV_PIX_FMT_YUVA444P12LE}, {VIDEO_FORMAT_P216, AV_PIX_FMT_P216LE},
    {VIDEO_FORMAT_P416, AV_PIX_FMT_P416LE},       {VIDEO_FORMAT_V210, AV_PIX_FMT_YUV422P10LE},
    {VIDEO_FORMAT_R10L, AV_PIX_FMT_X2RGB10LE},
};

AVPixelFormat ffmpeg_format(video_format format) {
    for (const auto& [host, ffmpeg] : kFfmpegFormats) {
        if (host == format) {
            return ffmpeg;
        }
    }
    throw std::invalid_argument("make_frame: format not made by the tests");
}

uint32_t word_at(const uint8_t* p) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
}

void add_plane(TestFrame& t, const cv::Mat& bytes, PlaneShape shape, int padding) {
    const int plane = t.plane_count++;
    const int stride = bytes.cols + padding;
    t.storage[plane].assign(static_cast<size_t>(stride) * bytes.rows, kPaddingByte);
    for (int y = 0; y < bytes.rows; ++y) {
        std::memcpy(t.storage[plane].data() + static_cast<size_t>(y) * stride, bytes.ptr(y),
                    static_cast<size_t>(bytes.cols));
    }
    t.shapes[plane] = shape;
    t.frame.data[plane] = t.storage[plane].data();
    t.frame.linesize[plane] = static_cast<uint32_t>(stride);
}

// Six pixels of 4:2:2 10-bit in four words: Cb Y Cr | Y Cb Y | Cr Y Cb | Y Cr Y.
cv::Mat pack_v210(const uint8_t* const data[4], const int linesize[4], int width, int height) {
    const int groups = (width + 5) / 6;
    cv::Mat packed(height, groups * 16, CV_8UC1, cv::Scalar(0));
    for (int y = 0; y < height; ++y) {
        auto row = [&](int plane) {
            return reinterpret_cast<const uint16_t*>(data[plane] + y * linesize[plane]);
        };
        for (int g = 0; g < groups; ++g) {
            uint16_t slots[12];
            for (int p = 0; p < 6; ++p) {
                const int x = std::min(g * 6 + p, width - 1);
                slots[2 * p + 1] = row(0)[x];
                slots[2 * p] = row(p % 2 == 0 ? 1 : 2)[x / 2];
            }
            for (int w = 0; w < 4; ++w) {
                const uint32_t word =
                    slots[3 * w] | slots[3 * w + 1] << 10 | slots[3 * w + 2] << 20;
                std::memcpy(packed.ptr(y) + g * 16 + w * 4, &word, 4);
            }
        }
    }
    return packed;
}

// The plane that holds a component; -1 where the format has no such component.
int component_plane(video_format format, int component) {
    if (format == VIDEO_FORMAT_V210 || format == VIDEO_FORMAT_R10L) {
        return component < 3 ? 0 : -1;
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(ffmpeg_format(format));
    return component < desc->nb_components ? desc->comp[component].plane : -1;
}

// A plane rectangle that surely holds everything the filter may change in
// that plane for a frame region `r`.
cv::Rect plane_rect(const TestFrame& t, int plane, const cv::Rect& r) {
    const PlaneShape& s = t.shapes[plane];
    const int w = static_cast<int>(t.frame.width), h = static_cast<int>(t.frame.height);
    const int x0 = r.x * s.width / w;
    const int y0 = r.y * s.height / h;
    const int x1 = ((r.x + r.width) * s.width + w - 1) / w;
    const int y1 = ((r.y + r.height) * s.height + h - 1) / h;
    return cv::Rect(x0, y0, x1 - x0 + 1, y1 - y0 + 1) & cv::Rect(0, 0, s.width, s.height);
}

// The bytes of a plane rectangle: whole groups of pixels.
cv::Rect byte_rect(const PlaneShape& s, const cv::Rect& p) {
    const int x0 = p.x / s.group_pixels * s.group_bytes;
    const int x1 = (p.x + p.width + s.group_pixels - 1) / s.group_pixels * s.group_bytes;
    return {x0, p.y, x1 - x0, p.height};
}

} // namespace

TestFrame::TestFrame(const TestFrame& other) {
    *this = other;
}

TestFrame& TestFrame::operator=(const TestFrame& other) {
    frame = other.frame;
    storage = other.storage;
    shapes = other.shapes;
    plane_count = other.plane_count;
    for (int i = 0; i < static_cast<int>(storage.size()); ++i) {
        frame.data[i] = i < plane_count ? storage[i].data() : nullptr;
    }
    return *this;
}

cv::Mat TestFrame::plane_bytes(int plane) const {
    const PlaneShape& s = shapes[plane];
    return cv::Mat(s.height, s.row_bytes(), CV_8UC1, const_cast<uint8_t*>(storage[plane].data()),
                   frame.linesize[plane]);
}

TestFrame make_frame(const cv::Mat& source, video_format format, int padding) {
    const AVPixelFormat target = ffmpeg_format(format);
    // 4:2:x formats need even sizes.
    const cv::Mat bgr = source(cv::Rect(0, 0, source.cols & ~1, source.rows & ~1));
    cv::Mat bgra;
    cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
    bgra.forEach<cv::Vec4b>([](cv::Vec4b& pixel, const int* at) {
        pixel[3] = static_cast<uint8_t>(255 - (at[0] / 8) % 32);
    });

    const int w = bgr.cols, h = bgr.rows;
    uint8_t* data[4] = {};
    int linesize[4] = {};
    if (av_image_alloc(data, linesize, w, h, target, 64) < 0) {
        throw std::runtime_error("make_frame: out of memory");
    }
    SwsContext* sws =
        sws_getContext(w, h, AV_PIX_FMT_BGRA, w, h, target, SWS_BICUBIC, nullptr, nullptr, nullptr);
    const uint8_t* const from[4] = {bgra.data, nullptr, nullptr, nullptr};
    const int from_stride[4] = {static_cast<int>(bgra.step), 0, 0, 0};
    sws_scale(sws, from, from_stride, 0, h, data, linesize);
    sws_freeContext(sws);

    TestFrame t;
    t.frame.width = static_cast<uint32_t>(w);
    t.frame.height = static_cast<uint32_t>(h);
    t.frame.format = format;
    if (format == VIDEO_FORMAT_V210) {
        add_plane(t, pack_v210(data, linesize, w, h), PlaneShape{w, h, 6, 16}, padding);
    } else if (format == VIDEO_FORMAT_R10L) {
        // FFmpeg's X2RGB10 holds blue in the low bits; R10L holds red on top.
        cv::Mat words(h, w, CV_32SC1, data[0], linesize[0]);
        words.forEach<int32_t>([](int32_t& word, const int*) {
            const auto v = static_cast<uint32_t>(word);
            word = static_cast<int32_t>((v >> 20 & 0x3FF) << 22 | (v >> 10 & 0x3FF) << 12 |
                                        (v & 0x3FF) << 2);
        });
        add_plane(t, cv::Mat(h, w * 4, CV_8UC1, data[0], linesize[0]), PlaneShape{w, h, 1, 4},
                  padding);
    } else {
        const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(target);
        for (int plane = 0; plane < av_pix_fmt_count_planes(target); ++plane) {
            const bool chroma = plane != desc->comp[0].plane && plane != desc->comp[3].plane &&
                                !(desc->flags & AV_PIX_FMT_FLAG_RGB);
            const int width = chroma ? AV_CEIL_RSHIFT(w, desc->log2_chroma_w) : w;
            const int height = chroma ? AV_CEIL_RSHIFT(h, desc->log2_chroma_h) : h;
            const int row_bytes = av_image_get_linesize(target, w, plane);
            add_plane(t, cv::Mat(height, row_bytes, CV_8UC1, data[plane], linesize[plane]),
                      PlaneShape{width, height, 1, row_bytes / width}, padding);
        }
    }
    av_freep(&data[0]);
    return t;
}

int sample_depth(video_format format) {
    return format == VIDEO_FORMAT_V210 ? 10
                                       : av_pix_fmt_desc_get(ffmpeg_format(format))->comp[0].depth;
}

bool is_rgb(video_format format) {
    return format != VIDEO_FORMAT_V210 &&
           (av_pix_fmt_desc_get(ffmpeg_format(format))->flags & AV_PIX_FMT_FLAG_RGB);
}

int misplaced_bits(const TestFrame& t) {
    if (t.frame.format == VIDEO_FORMAT_V210 || t.frame.format == VIDEO_FORMAT_R10L) {
        return 0;
    }
    const int shift = av_pix_fmt_desc_get(ffmpeg_format(t.frame.format))->comp[0].shift;
    int misplaced = 0;
    for (int plane = 0; shift > 0 && plane < t.plane_count; ++plane) {
        const cv::Mat bytes = t.plane_bytes(plane);
        for (int y = 0; y < bytes.rows; ++y) {
            for (int i = 0; i < bytes.cols / 2; ++i) {
                uint16_t sample; // rows may start at odd bytes
                std::memcpy(&sample, bytes.ptr(y) + 2 * i, 2);
                misplaced += (sample & ((1 << shift) - 1)) != 0;
            }
        }
    }
    return misplaced;
}

int sample_at(const TestFrame& t, int component, int x, int y) {
    const uint8_t* row0 = t.storage[0].data() + static_cast<size_t>(y) * t.frame.linesize[0];
    if (t.frame.format == VIDEO_FORMAT_V210) {
        // Luma of pixel p in slot 2p + 1 of its group; chroma pair k's Cb in 4k, Cr in 4k + 2.
        const int p = x % 6;
        const int slot = component == 0   ? 2 * p + 1
                         : component <= 2 ? 4 * (p / 2) + 2 * (component - 1)
                                          : -1;
        return slot < 0
                   ? -1
                   : static_cast<int>(
                         word_at(row0 + x / 6 * 16 + slot / 3 * 4) >> (10 * (slot % 3)) & 0x3FF);
    }
    if (t.frame.format == VIDEO_FORMAT_R10L) {
        const int shifts[] = {22, 12, 2};
        return component > 2 ? -1
                             : static_cast<int>(word_at(row0 + x * 4) >> shifts[component] & 0x3FF);
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(ffmpeg_format(t.frame.format));
    if (component >= desc->nb_components) {
        return -1;
    }
    const AVComponentDescriptor& c = desc->comp[component];
    const bool chroma = (component == 1 || component == 2) && !(desc->flags & AV_PIX_FMT_FLAG_RGB);
    const int px = chroma ? x >> desc->log2_chroma_w : x;
    const int py = chroma ? y >> desc->log2_chroma_h : y;
    const uint8_t* at = t.storage[c.plane].data() +
                        static_cast<size_t>(py) * t.frame.linesize[c.plane] + px * c.step +
                        c.offset;
    const int raw = c.depth + c.shift > 8 ? at[0] | at[1] << 8 : at[0];
    return raw >> c.shift & ((1 << c.depth) - 1);
}

double detail(const TestFrame& t, int plane, const cv::Rect& r) {
    const int scale = 1 << (sample_depth(t.frame.format) - 8);
    const cv::Rect inside =
        r & cv::Rect(0, 0, static_cast<int>(t.frame.width) - 1, static_cast<int>(t.frame.height));
    double sum = 0;
    long count = 0;
    for (int component = 0; component < 3; ++component) {
        if (component_plane(t.frame.format, component) != plane) {
            continue;
        }
        for (int y = inside.y; y < inside.br().y; ++y) {
            for (int x = inside.x; x < inside.br().x; ++x) {
                sum += std::abs(sample_at(t, component, x + 1, y) - sample_at(t, component, x, y));
                ++count;
            }
        }
    }
    return count ? sum / count / scale : 0.0;
}

double unchanged_share(const TestFrame& before, const TestFrame& after, const cv::Rect& face) {
    const cv::Rect inside = face & cv::Rect(cv::Point(), before.size());
    double most = inside.empty() ? 1.0 : 0.0;
    for (int component = 0; component < 3 && !inside.empty(); ++component) {
        if (sample_at(before, component, inside.x, inside.y) < 0) {
            continue; // grey formats
        }
        int same = 0;
        for (int y = inside.y; y < inside.br().y; ++y) {
            for (int x = inside.x; x < inside.br().x; ++x) {
                same += sample_at(before, component, x, y) == sample_at(after, component, x, y);
            }
        }
        most = std::max(most, static_cast<double>(same) / inside.area());
    }
    return most;
}

int faces_left_visible(const TestFrame& before, const TestFrame& after,
                       const std::vector<cv::Rect>& faces) {
    // Half a face left as it was shows its eyes while the box as a whole
    // loses most of its detail: the edges inside it (neighbours four levels
    // or more apart) that came out as they went in count too. Flat samples
    // say nothing, as a block's mean may equal them.
    const auto edges_kept = [&](const cv::Rect& face) {
        const int scale = 1 << (sample_depth(before.frame.format) - 8);
        const cv::Rect inside =
            face & cv::Rect(0, 0, before.size().width - 1, before.size().height);
        int edges = 0, kept = 0;
        for (int y = inside.y; y < inside.br().y; ++y) {
            for (int x = inside.x; x < inside.br().x; ++x) {
                const int a = sample_at(before, 0, x, y), b = sample_at(before, 0, x + 1, y);
                if (std::abs(a - b) >= 4 * scale) {
                    ++edges;
                    kept += a == sample_at(after, 0, x, y) && b == sample_at(after, 0, x + 1, y);
                }
            }
        }
        return edges >= 20 ? static_cast<double>(kept) / edges : 0.0;
    };
    int visible = 0;
    for (const cv::Rect& face : faces) {
        visible +=
            detail(after, 0, face) > 0.5 * detail(before, 0, face) || edges_kept(face) > 0.25;
    }
    return visible;
}

int changed_bytes_outside(const TestFrame& before, const TestFrame& after, int plane,
                          const std::vector<cv::Rect>& regions) {
    const PlaneShape& s = before.shapes[plane];
    const int stride = static_cast<int>(before.frame.linesize[plane]);
    cv::Mat allowed(s.height, stride, CV_8UC1, cv::Scalar(0));
    for (const cv::Rect& r : regions) {
        allowed(byte_rect(s, plane_rect(before, plane, r))).setTo(1);
    }
    int changed = 0;
    for (int y = 0; y < s.height; ++y) {
        const uint8_t* a = before.storage[plane].data() + static_cast<size_t>(y) * stride;
        const uint8_t* b = after.storage[plane].data() + static_cast<size_t>(y) * stride;
        for (int x = 0; x < stride; ++x) {
            if (a[x] != b[x] && !allowed.at<uint8_t>(y, x)) {
                ++changed;
            }
        }
    }
    return changed;
}

} // namespace veilcam::test
