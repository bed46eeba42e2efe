# Copies the two detector models from VEILCAM_MODELS_DIR into the build's data
# folder, checked against the folder's SHA256SUMS. A missing or damaged model
# is a warning, not an error: the plug-in then says in OBS's log what it lacks.
set(VEILCAM_MODEL_FILES face_detection_yunet_2023mar.onnx det_500m.onnx)
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
  set(VEILCAM_COPIED_MODELS "${copied}" PARENT_SCOPE)
endfunction()
