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
// while the input sizes keep coming back.
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

    // Output `index` of the last run, in the order the constructor was given,
    // and its value count.
    const float* output(size_t index) const { return current->outputs[index].data(); }
    size_t output_size(size_t index) const { return current->outputs[index].size(); }

  private:
    // The tensors of one input size. A pass searches images of a few sizes in
    // turn (the whole picture, its tile, the strips along its edges): bound
    // afresh for each, every call cleared megabytes of floats twice over.
    struct Binding {
        cv::Size tensor;
        cv::Size filled; // the image size the input holds
        uint64_t last_use = 0;
        std::vector<float> input;
        OrtValueOwner input_value;
        std::vector<std::vector<float>> outputs;
        std::vector<OrtValueOwner> output_owners;
        std::vector<OrtValue*> output_values;
    };

    Binding& binding_for(cv::Size tensor, float fill);
    void bind(Binding& binding, cv::Size tensor, float fill) const;

    std::string input_name;
    std::vector<AnchorOutput> anchors;
    std::vector<std::vector<int64_t>> dimensions; // as the model declares them, -1 where open
    std::vector<const char*> output_names;
    OrtMemoryInfoOwner memory;
    std::vector<Binding> bindings;
    Binding* current = nullptr;
    uint64_t uses = 0;
    cv::Mat channels[3];
};

} // namespace veilcam
