#pragma once

#include "ort/ort_owner.hpp"

#include <opencv2/core/mat.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace veilcam {

// One output of a detection network: a row per anchor of every cell of its
// stride, each row `width` values.
struct AnchorOutput {
    std::string name;
    int stride;
    int anchors_per_cell;
};

// The input and output tensors of a session's runs, over buffers of our own:
// the runtime writes its results into them, so nothing is allocated per run
// while the input keeps its size.
class BoundTensors {
  public:
    // Throws when the session lacks one of `outputs` or an output is not
    // shaped as an anchor list.
    BoundTensors(OrtSession* session, std::string input_name, std::vector<AnchorOutput> outputs);
    BoundTensors(const BoundTensors&) = delete;
    BoundTensors& operator=(const BoundTensors&) = delete;

    // The network's input (blue, green, red planes for `bgr_order`, red,
    // green, blue otherwise) set to `image` (8-bit grey or BGR) as
    // (sample - mean) * scale, in the top-left corner of a tensor of `tensor`
    // size; the rest holds what black gives.
    void set_input(const cv::Mat& image, cv::Size tensor, float mean, float scale, bool bgr_order);

    void run(OrtSession* session);

    // Output `index` in the order the constructor was given, and its value count.
    const float* output(size_t index) const { return outputs[index].data.data(); }
    size_t output_size(size_t index) const { return outputs[index].data.size(); }

  private:
    struct Output {
        AnchorOutput anchors;
        std::vector<int64_t> dimensions; // as the model declares them, -1 where open
        std::vector<float> data;
        OrtValueOwner value;
    };

    void bind(cv::Size tensor, float fill);

    std::string input_name;
    std::vector<Output> outputs;
    std::vector<const char*> output_names;
    std::vector<OrtValue*> output_values;
    OrtMemoryInfoOwner memory;
    cv::Size bound;
    cv::Size filled; // the image size the input holds
    std::vector<float> input;
    OrtValueOwner input_value;
    cv::Mat channels[3];
};

} // namespace veilcam
