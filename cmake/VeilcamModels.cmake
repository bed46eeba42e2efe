# Copies the detector models from VEILCAM_MODELS_DIR into the build's data
# folder, checked against the folder's SHA256SUMS, and writes the face
# descriptor's model from its weights there. A missing or damaged model
# is a warning, not an error: the plug-in then says in OBS's log what it lacks.
#
# The models are those that the table of detection devices names, so that a
# new device brings its model into the build: a name ending in _any_size.onnx
# is made from the model of the same name without it (its input size opened),
# every other one is copied.
file(STRINGS "${CMAKE_CURRENT_LIST_DIR}/../detection/detector_devices.cpp" device_rows
     REGEX "\"models/[^\"]+\\.onnx\"")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
             "${CMAKE_CURRENT_LIST_DIR}/../detection/detector_devices.cpp")
set(VEILCAM_MODEL_FILES "")
set(VEILCAM_OPENED_MODELS "")
foreach(row IN LISTS device_rows)
  string(REGEX MATCH "models/([^\"]+\\.onnx)" found "${row}")
  set(model "${CMAKE_MATCH_1}")
  if(model MATCHES "^(.+)_any_size\\.onnx$")
    list(APPEND VEILCAM_OPENED_MODELS "${CMAKE_MATCH_1}.onnx:${model}")
    set(model "${CMAKE_MATCH_1}.onnx")
  endif()
  list(APPEND VEILCAM_MODEL_FILES "${model}")
endforeach()
list(REMOVE_DUPLICATES VEILCAM_MODEL_FILES)
if(NOT VEILCAM_MODEL_FILES)
  message(FATAL_ERROR "detection/detector_devices.cpp names no model")
endif()
set(VEILCAM_MODEL_SOURCES
    "face_detection_yunet_2023mar.onnx: https://github.com/opencv/opencv_zoo/raw/main/models/face_detection_yunet/face_detection_yunet_2023mar.onnx"
    "det_500m.onnx: the member det_500m.onnx of https://github.com/deepinsight/insightface/releases/download/v0.7/buffalo_sc.zip"
    "face_recognition_model.bin and its manifest: the folder model/ of the npm package @vladmandic/face-api 1.7.15")

# Whether ${VEILCAM_MODELS_DIR}/${file} is there and matches its SHA256SUMS
# entry; warns saying why not.
function(veilcam_model_usable file result)
  set(source "${VEILCAM_MODELS_DIR}/${file}")
  set(sums_file "${VEILCAM_MODELS_DIR}/SHA256SUMS")
  set(${result} FALSE PARENT_SCOPE)
  if(NOT EXISTS "${source}")
    message(WARNING "Model ${file} is missing from ${VEILCAM_MODELS_DIR}; the plug-in "
                    "will log what it cannot do without it. Get it from: ${VEILCAM_MODEL_SOURCES}")
    return()
  endif()
  if(EXISTS "${sums_file}")
    file(STRINGS "${sums_file}" sum_line REGEX "[ *]${file}$")
    string(REGEX MATCH "^[0-9a-fA-F]+" expected "${sum_line}")
    file(SHA256 "${source}" actual)
    if(NOT expected STREQUAL actual)
      message(WARNING "Model ${source} does not match its SHA256SUMS entry "
                      "(${actual}, expected '${expected}'); it is left out.")
      return()
    endif()
  endif()
  set(${result} TRUE PARENT_SCOPE)
endfunction()

# Runs one of the Python scripts beside this file that write a model from
# another; a failure is a warning naming what goes without.
function(veilcam_write_model script source destination without)
  set(script_path "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/${script}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${script_path}")
  if(CMAKE_CROSSCOMPILING OR VEILCAM_MODULE_ONLY OR NOT EXISTS "${source}" OR
     NOT ("${source}" IS_NEWER_THAN "${destination}" OR
          "${script_path}" IS_NEWER_THAN "${destination}"))
    return()
  endif()
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  execute_process(
    COMMAND "${Python3_EXECUTABLE}" "${script_path}" ${ARGN}
            "${destination}"
    RESULT_VARIABLE result ERROR_VARIABLE error)
  if(NOT result EQUAL 0)
    file(REMOVE "${destination}")
    message(WARNING "Cannot write ${destination} (${error}); ${without}")
  endif()
endfunction()

function(veilcam_copy_models destination)
  foreach(model IN LISTS VEILCAM_MODEL_FILES)
    veilcam_model_usable("${model}" usable)
    if(usable)
      configure_file("${VEILCAM_MODELS_DIR}/${model}" "${destination}/${model}" COPYONLY)
    endif()
  endforeach()
  # A cross-build or a package takes the written models from the sysroot build.
  # The detectors on ONNX Runtime's CPU provider take the frame's own aspect
  # ratio from copies of the models whose input size is left open.
  foreach(pair IN LISTS VEILCAM_OPENED_MODELS)
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 model)
    list(GET pair 1 any_size)
    veilcam_write_model(open_input_size.py "${destination}/${model}" "${destination}/${any_size}"
                        "the detector on ONNX Runtime that needs it will fall back to YuNet on OpenCV."
                        "${destination}/${model}")
  endforeach()
  # The face descriptor comes as TensorFlow.js weights; it is written as ONNX.
  veilcam_model_usable(face_recognition_model.bin weights_usable)
  veilcam_model_usable(face_recognition_model-weights_manifest.json manifest_usable)
  if(weights_usable AND manifest_usable)
    veilcam_write_model(descriptor_to_onnx.py "${VEILCAM_MODELS_DIR}/face_recognition_model.bin"
                        "${destination}/face_descriptor.onnx"
                        "faces cannot be remembered."
                        "${VEILCAM_MODELS_DIR}/face_recognition_model.bin"
                        "${VEILCAM_MODELS_DIR}/face_recognition_model-weights_manifest.json")
  endif()
endfunction()
