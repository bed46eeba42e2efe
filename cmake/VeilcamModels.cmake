# Copies the detector models from VEILCAM_MODELS_DIR into the build's data
# folder, checked against the folder's SHA256SUMS. A missing or damaged model
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
    "det_500m.onnx: the member det_500m.onnx of https://github.com/deepinsight/insightface/releases/download/v0.7/buffalo_sc.zip")

function(veilcam_copy_models destination)
  set(sums_file "${VEILCAM_MODELS_DIR}/SHA256SUMS")
  set(copied "")
  foreach(model IN LISTS VEILCAM_MODEL_FILES)
    set(source "${VEILCAM_MODELS_DIR}/${model}")
    if(NOT EXISTS "${source}")
      message(WARNING "Model ${model} is missing from ${VEILCAM_MODELS_DIR}; the plug-in "
                      "will log that it cannot detect faces. Get it from: ${VEILCAM_MODEL_SOURCES}")
      continue()
    endif()
    if(EXISTS "${sums_file}")
      file(STRINGS "${sums_file}" sum_line REGEX "[ *]${model}$")
      string(REGEX MATCH "^[0-9a-fA-F]+" expected "${sum_line}")
      file(SHA256 "${source}" actual)
      if(NOT expected STREQUAL actual)
        message(WARNING "Model ${source} does not match its SHA256SUMS entry "
                        "(${actual}, expected '${expected}'); it is left out.")
        continue()
      endif()
    endif()
    configure_file("${source}" "${destination}/${model}" COPYONLY)
    list(APPEND copied "${destination}/${model}")
  endforeach()
  # The detectors on ONNX Runtime's CPU provider take the frame's own aspect
  # ratio from copies of the models whose input size is left open.
  foreach(pair IN LISTS VEILCAM_OPENED_MODELS)
    string(REPLACE ":" ";" pair "${pair}")
    list(GET pair 0 model)
    list(GET pair 1 any_size)
    # A cross-build or a package takes these from the sysroot build instead.
    if(NOT CMAKE_CROSSCOMPILING AND NOT VEILCAM_MODULE_ONLY AND EXISTS "${destination}/${model}" AND
       "${destination}/${model}" IS_NEWER_THAN "${destination}/${any_size}")
      find_package(Python3 REQUIRED COMPONENTS Interpreter)
      execute_process(
        COMMAND "${Python3_EXECUTABLE}" "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/open_input_size.py"
                "${destination}/${model}" "${destination}/${any_size}"
        RESULT_VARIABLE result ERROR_VARIABLE error)
      if(NOT result EQUAL 0)
        message(WARNING "Cannot open the input size of ${model} (${error}); the detector on "
                        "ONNX Runtime that needs it will say so and fall back to YuNet on OpenCV.")
      endif()
    endif()
  endforeach()
  set(VEILCAM_COPIED_MODELS "${copied}" PARENT_SCOPE)
endfunction()
