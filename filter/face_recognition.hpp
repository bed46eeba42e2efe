#pragma once

#include "filter/detection_image.hpp"
#include "filter/remembered_faces.hpp"
#include "ort/face_descriptor.hpp"

#include <obs.h>
#include <opencv2/core/mat.hpp>

#include <memory>

namespace veilcam {

struct FilterInstance;

// What one filter needs to tell who a face is, kept between frames.
struct FaceRecognizer {
    std::unique_ptr<FaceDescriptorNet> net;
    bool unavailable = false; // the network could not be had: said once
    RememberedFaces remembered;
    DetectionImages images;      // the face's area in colour
    cv::Mat colour;              // that area of a grey frame, as colour
    cv::Mat chip;                // the face laid out for the network
    DetectionImages look_images; // a found face in grey, brought to its look
    cv::Mat look_grey, look;
};

// The part of a picture of `bounds` taken to describe the face at `place`:
// the face with room around it.
cv::Rect described_area(const cv::Rect2f& place, cv::Size bounds);
// How much that part is shrunk before the face in it is laid out.
double described_scale(const cv::Rect& area);

// Notes how each face the pass just found looks: a face that looks like
// someone else than on the pass before (a newcomer where a face stood, a
// cut to a similar shot) is described afresh before it is shown again.
void compare_looks(FilterInstance& f, const obs_source_frame& frame, const FrameFormat& format);

// Describes at most one face that the latest detection pass found, where
// it is on this frame. Faces too small to describe well are left as they are.
void recognise_a_face(FilterInstance& f, const obs_source_frame& frame, const FrameFormat& format);

} // namespace veilcam
