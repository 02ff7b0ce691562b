# tabrook_warnings(target): the project's warning set, applied per target.
function(tabrook_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Woverloaded-virtual -Wimplicit-fallthrough)
  if(TABROOK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
