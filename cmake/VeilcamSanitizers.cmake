# VEILCAM_SANITIZE=address builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer; =thread with ThreadSanitizer.
if(VEILCAM_SANITIZE STREQUAL "address")
  set(sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined)
elseif(VEILCAM_SANITIZE STREQUAL "thread")
  set(sanitizer_flags -fsanitize=thread)
elseif(VEILCAM_SANITIZE)
  message(FATAL_ERROR "VEILCAM_SANITIZE must be address or thread, not '${VEILCAM_SANITIZE}'")
endif()
if(sanitizer_flags)
  add_compile_options(${sanitizer_flags} -fno-omit-frame-pointer)
  add_link_options(${sanitizer_flags})
endif()
