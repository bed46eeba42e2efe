#pragma once

#include "detection/detector_devices.hpp"
#include "ort/face_descriptor.hpp"

#include <opencv2/core/mat.hpp>

#include <string>

namespace veilcam {

// What a photo offered as someone's face shows.
struct PhotoFace {
    int faces = 0;               // found in it
    FaceDescriptor descriptor{}; // of the face, where there is exactly one
};

// Finds the faces of `photo` (8-bit BGR) with the bundled YuNet and
// describes the face where there is exactly one. Throws std::exception when
// the photo cannot be searched or the face not described.
PhotoFace describe_photo_face(const cv::Mat& photo, const BundledModels& models);

// What is wrong with a photo that shows `faces` faces, for the user; "" for
// one face.
std::string photo_face_problem(int faces);

} // namespace veilcam
