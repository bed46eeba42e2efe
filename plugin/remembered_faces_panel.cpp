#include "plugin/remembered_faces_panel.hpp"

#include "filter/face_photo.hpp"
#include "plugin/module.hpp"

#include <graphics/image-file.h>
#include <opencv2/imgproc.hpp>

#include <memory>
#include <mutex>
#include <string>

namespace veilcam {
namespace {

constexpr const char* kForgetButton = "forget_remembered_faces";
constexpr const char* kPhotoKey = "remember_face_photo";
constexpr const char* kCountKey = "remembered_faces_count";
constexpr const char* kPhotoResultKey = "remember_face_photo_result";

// A photo decoded by the host's own image loader, freed on every path.
struct DecodedPhoto {
    gs_image_file_t file{};
    explicit DecodedPhoto(const char* path) { gs_image_file_init(&file, path); }
    ~DecodedPhoto() { gs_image_file_free(&file); }
    DecodedPhoto(const DecodedPhoto&) = delete;
    DecodedPhoto& operator=(const DecodedPhoto&) = delete;

    // As BGR; empty for a photo the loader could not read.
    cv::Mat bgr() const {
        cv::Mat result;
        if (!file.loaded || !file.texture_data || file.is_animated_gif) {
            return result;
        }
        const cv::Mat pixels(static_cast<int>(file.cy), static_cast<int>(file.cx), CV_8UC4,
                             file.texture_data);
        if (file.format == GS_RGBA) {
            cv::cvtColor(pixels, result, cv::COLOR_RGBA2BGR);
        } else if (file.format == GS_BGRA || file.format == GS_BGRX) {
            cv::cvtColor(pixels, result, cv::COLOR_BGRA2BGR);
        }
        return result;
    }
};

void say(FilterInstance& f, bool refused, const std::string& message) {
    std::lock_guard<std::mutex> lock(f.mutex);
    f.photo_message = message;
    f.photo_refused = refused;
}

bool forget_clicked(obs_properties_t*, obs_property_t*, void* data) {
    auto& f = *static_cast<FilterInstance*>(data);
    try {
        {
            std::lock_guard<std::mutex> lock(f.mutex);
            f.recognizer.remembered.forget();
            f.photo_message.clear();
        }
        blog(LOG_INFO, "[veilcam] Remembered faces forgotten, face list cleared");
        // The listed faces would be learnt again from the next frames.
        if (f.source) {
            const std::unique_ptr<obs_data_t, void (*)(obs_data_t*)> cleared(obs_data_create(),
                                                                             obs_data_release);
            obs_data_set_string(cleared.get(), "excluded_face_ids", "");
            obs_source_update(f.source, cleared.get());
        }
    } catch (const std::exception& e) {
        blog(LOG_ERROR, "[veilcam] Remembered faces could not be forgotten: %s", e.what());
    }
    return true;
}

bool photo_picked(void* data, obs_properties_t*, obs_property_t*, obs_data_t* settings) {
    try {
        const std::string path = obs_data_get_string(settings, kPhotoKey);
        if (path.empty()) {
            return false;
        }
        // Done with: the panel offers the picker afresh, and a reload does not
        // remember the face twice.
        obs_data_set_string(settings, kPhotoKey, "");
        remember_face_in_photo(*static_cast<FilterInstance*>(data), path.c_str());
    } catch (const std::exception& e) {
        blog(LOG_ERROR, "[veilcam] The photo could not be taken: %s", e.what());
    }
    return true;
}

} // namespace

void remember_face_in_photo(FilterInstance& f, const char* path) {
    std::string problem;
    try {
        const cv::Mat photo = DecodedPhoto(path).bgr();
        if (photo.empty()) {
            problem = "the photo could not be read";
        } else {
            const PhotoFace face = describe_photo_face(photo, f.detector_choice.bundled);
            problem = photo_face_problem(face.faces);
            if (problem.empty()) {
                std::lock_guard<std::mutex> lock(f.mutex);
                f.recognizer.remembered.remember(face.descriptor);
            }
        }
    } catch (const std::exception& e) {
        problem = e.what();
    }
    if (problem.empty()) {
        blog(LOG_INFO, "[veilcam] The face in %s is remembered", path);
        say(f, false, module_text("PhotoRemembered"));
    } else {
        blog(LOG_WARNING, "[veilcam] The face in %s cannot be remembered: %s", path,
             problem.c_str());
        say(f, true, module_text("PhotoNotRemembered") + std::string(": ") + problem);
    }
}

void add_remembered_faces_controls(obs_properties_t* props, FilterInstance& f) {
    int count = 0;
    std::string message;
    bool refused = false;
    {
        std::lock_guard<std::mutex> lock(f.mutex);
        count = f.recognizer.remembered.count();
        message = f.photo_message;
        refused = f.photo_refused;
    }
    const std::string counted =
        module_text("RememberedFaces") + std::string(": ") + std::to_string(count);
    obs_properties_add_text(props, kCountKey, counted.c_str(), OBS_TEXT_INFO);
    obs_properties_add_button2(props, kForgetButton, module_text("ForgetFaces"), forget_clicked,
                               &f);
    obs_property_t* photo =
        obs_properties_add_path(props, kPhotoKey, module_text("RememberPhoto"), OBS_PATH_FILE,
                                "Photos (*.jpg *.jpeg *.png *.bmp *.webp)", nullptr);
    obs_property_set_modified_callback2(photo, photo_picked, &f);
    if (!message.empty()) {
        obs_property_t* result =
            obs_properties_add_text(props, kPhotoResultKey, message.c_str(), OBS_TEXT_INFO);
        obs_property_text_set_info_type(result,
                                        refused ? OBS_TEXT_INFO_WARNING : OBS_TEXT_INFO_NORMAL);
    }
}

} // namespace veilcam
