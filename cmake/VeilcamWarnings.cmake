# Warnings are errors in our own code; the dependencies' headers are system
# headers and stay quiet.
function(veilcam_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
  else()
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  endif()
endfunction()
