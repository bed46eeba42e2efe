#include "tools/video/photo_faces.hpp"

#include "filter/face_photo.hpp"
#include "filter/remembered_faces.hpp"
#include "tools/video/ffmpeg_owners.hpp"

#include <opencv2/imgcodecs.hpp>

namespace veilcam::video {

void remember_photo_faces(const Options& options, obs_data_t* settings,
                          const BundledModels& models) {
    const bool visible = !options.visible_faces.empty();
    const std::vector<std::string>& photos = visible ? options.visible_faces : options.hidden_faces;
    if (photos.empty()) {
        return;
    }
    RememberedFaces remembered;
    for (const std::string& path : photos) {
        const cv::Mat photo = cv::imread(path, cv::IMREAD_COLOR);
        if (photo.empty()) {
            throw VideoError("cannot read the photo " + path);
        }
        const PhotoFace face = describe_photo_face(photo, models);
        const std::string problem = photo_face_problem(face.faces);
        if (!problem.empty()) {
            throw VideoError(path + ": " + problem);
        }
        remembered.remember(face.descriptor);
    }
    remembered.save(settings);
    obs_data_set_int(settings, "face_selection_mode",
                     visible ? kListedStayVisible : kListedAreHidden);
}

} // namespace veilcam::video
