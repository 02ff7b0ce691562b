# tabrook_warnings(target): the project's warning set, applied per target.
function(tabrook_warnings target)
  target_compile_options(${target} PRIVATE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wcast-align
    -Woverloaded-virtual -Wimplicit-fallthrough
    # Every narrowing or sign change and every cast is written out: a value
    # that changes on the way is a decision the code states, not an accident.
    -Wconversion -Wsign-conversion -Wold-style-cast
    # GCC 12 reports std::string copies at -O2 as overlapping memcpy calls
    # (a known false positive of -Wrestrict in libstdc++'s char_traits).
    $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
  if(TABROOK_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
