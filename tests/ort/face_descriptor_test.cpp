// The face descriptor that the build writes from the published weights, on
// the real runtime, on faces of the sample photos aligned by their key points.
#include "detection/face_alignment.hpp"
#include "detection/yunet_opencv.hpp"
#include "ort/face_descriptor.hpp"
#include "support/clips.hpp"
#include "support/samples.hpp"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <fstream>
#include <iostream>
#include <sstream>

namespace veilcam {
namespace {

// The face found nearest `at`, if one is found within half a face of it.
const FoundFace* nearest(const std::vector<FoundFace>& faces, cv::Point2f at, float face_side) {
    const FoundFace* best = nullptr;
    float best_distance = face_side / 2;
    for (const FoundFace& face : faces) {
        const auto distance =
            static_cast<float>(cv::norm((face.box.tl() + face.box.br()) / 2 - at));
        if (distance < best_distance) {
            best = &face;
            best_distance = distance;
        }
    }
    return best;
}

// Every face YuNet finds in `image`, with its key points.
std::vector<FoundFace> faces_in(const cv::Mat& image) {
    return YunetOpencvDetector(test::yunet_model(), 0.5f).detect(image, 0.5f, 100);
}

TEST(FaceDescriptor, TheBuiltModelComputesWhatAPlainForwardPassComputes) {
    FaceDescriptorNet net(test::face_descriptor_model());
    const test::LabelledPhoto& photo = test::labelled_photos()[2];
    const std::vector<FoundFace> faces = faces_in(photo.image);
    ASSERT_FALSE(faces.empty());
    cv::Mat crop, rgb;
    align_face(photo.image, faces[0].points, crop);
    cv::cvtColor(crop, rgb, cv::COLOR_BGR2RGB);
    rgb.convertTo(rgb, CV_32F);
    const std::string face_file = testing::TempDir() + "veilcam-face.f32";
    std::ofstream(face_file, std::ios::binary)
        .write(reinterpret_cast<const char*>(rgb.data),
               static_cast<std::streamsize>(rgb.total() * rgb.elemSize()));
    std::istringstream reference(
        test::run_checked(std::string(VEILCAM_PYTHON) + " " + VEILCAM_DESCRIPTOR_REFERENCE + " " +
                          VEILCAM_WEIGHTS_DIR "/face_recognition_model.bin " VEILCAM_WEIGHTS_DIR
                                              "/face_recognition_model-weights_manifest.json " +
                          face_file));
    const FaceDescriptor& described = net.describe(crop);
    float largest = 0.0f;
    for (const float value : described) {
        float expected = NAN;
        ASSERT_TRUE(reference >> expected);
        EXPECT_NEAR(value, expected, 1e-4f);
        largest = std::max(largest, std::abs(expected));
    }
    EXPECT_GT(largest, 0.01f) << "a descriptor of all zeros describes nothing";
}

// Each face is described twice: as the photo shows it, and from a copy of
// the photo shrunk, turned by 8 degrees and stored as a rough JPEG (another
// detection, other key points, other samples).
TEST(FaceDescriptor, TwoCropsOfOnePersonAreCloserThanAnyTwoPeople) {
    // bald_guys.jpg shows four men six times each, in photos of their own;
    // the other photos' large faces are five more people, two of them a
    // mother and her daughter.
    struct Person {
        std::string name;
        const char* file;
        std::vector<cv::Point> places;
    };
    const Person people[] = {
        {"Rock",
         "bald_guys.jpg",
         {{1165, 1384}, {1513, 1396}, {1881, 486}, {1595, 240}, {1865, 1391}, {1696, 750}}},
        {"Bruce",
         "bald_guys.jpg",
         {{1149, 838}, {858, 894}, {848, 1317}, {1185, 1136}, {122, 1053}, {456, 1328}}},
        {"Vin",
         "bald_guys.jpg",
         {{147, 150}, {648, 510}, {143, 451}, {154, 1376}, {388, 293}, {635, 185}}},
        {"Jason",
         "bald_guys.jpg",
         {{147, 770}, {389, 517}, {958, 477}, {394, 100}, {496, 911}, {955, 173}}},
        {"daughter", "2008_001009.jpg", {{182, 118}}},
        {"mother", "2008_001009.jpg", {{173, 250}}},
        {"left", "2008_001322.jpg", {{139, 193}}},
        {"middle", "2008_001322.jpg", {{265, 242}}},
        {"right", "2008_001322.jpg", {{398, 199}}},
    };
    FaceDescriptorNet net(test::face_descriptor_model());
    struct Described {
        const std::string* name;
        FaceDescriptor seen, again;
    };
    std::vector<Described> described;
    cv::Mat crop;
    for (const Person& person : people) {
        const cv::Mat photo = test::load_sample(person.file);
        const cv::Mat turn =
            cv::getRotationMatrix2D({photo.cols / 2.0f, photo.rows / 2.0f}, 8.0, 0.8);
        cv::Mat turned;
        cv::warpAffine(photo, turned, turn, photo.size(), cv::INTER_AREA, cv::BORDER_REFLECT);
        std::vector<uchar> jpeg;
        cv::imencode(".jpg", turned, jpeg, {cv::IMWRITE_JPEG_QUALITY, 40});
        turned = cv::imdecode(jpeg, cv::IMREAD_COLOR);
        const std::vector<FoundFace> faces = faces_in(photo), turned_faces = faces_in(turned);
        for (const cv::Point& place : person.places) {
            std::vector<cv::Point2f> moved;
            cv::transform(std::vector<cv::Point2f>{place}, moved, turn);
            const FoundFace* face = nearest(faces, place, 60.0f);
            const FoundFace* again = nearest(turned_faces, moved[0], 50.0f);
            ASSERT_TRUE(face && again) << person.name << " at " << place << " is not found";
            Described d{&person.name, {}, {}};
            align_face(photo, face->points, crop);
            d.seen = net.describe(crop);
            align_face(turned, again->points, crop);
            d.again = net.describe(crop);
            described.push_back(d);
        }
    }
    float one_crop = 0.0f, one_person = 0.0f, two_people = 2.0f;
    for (const Described& a : described) {
        one_crop = std::max(one_crop, descriptor_distance(a.seen, a.again));
        for (const Described& b : described) {
            for (const FaceDescriptor* other : {&b.seen, &b.again}) {
                const float distance = descriptor_distance(a.seen, *other);
                if (&a == &b) {
                    continue;
                }
                if (a.name == b.name) {
                    one_person = std::max(one_person, distance);
                } else {
                    two_people = std::min(two_people, distance);
                }
            }
        }
    }
    std::cout << "one face cropped twice: at most " << one_crop
              << " apart; one person in other photos: at most " << one_person
              << "; two people: at least " << two_people << "\n";
    EXPECT_LT(one_crop + 0.1f, two_people);
    EXPECT_LT(one_person, 0.65f) << "one man's photos over twenty years";
}

} // namespace
} // namespace veilcam
