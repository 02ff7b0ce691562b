# The boundaries between the library folders, held by the build.
#
# The source tree is on no include path. Each library target publishes its
# own folder's headers, and only those, under an include root of its own in
# the build tree: <build>/include/<target>/<folder>/<header>.h, a link to
# the header in the source tree. A target therefore sees its own headers and
# those of the targets it links (target_link_libraries), nothing else: a
# reader source that includes "platform/cstring.h" does not compile. Links
# are made per header, not per folder, so that platform/ does not publish
# the headers of platform/qt/, a target of its own.
#
# TABROOK_ARROWS (top CMakeLists.txt) names, for each folder, the folders it
# may link; tabrook_check_arrows() refuses a configuration whose library
# targets link anything else, and the include-arrow test (tests/boundaries)
# holds every #include of the library sources to the same arrows.

# tabrook_headers(target folder): publishes folder's headers as target's.
function(tabrook_headers target folder)
  set(root "${PROJECT_BINARY_DIR}/include/${target}")
  file(REMOVE_RECURSE "${root}")
  file(MAKE_DIRECTORY "${root}/${folder}")
  file(GLOB headers CONFIGURE_DEPENDS RELATIVE "${PROJECT_SOURCE_DIR}/${folder}"
       "${PROJECT_SOURCE_DIR}/${folder}/*.h")
  foreach(header IN LISTS headers)
    file(CREATE_LINK "${PROJECT_SOURCE_DIR}/${folder}/${header}" "${root}/${folder}/${header}"
         SYMBOLIC)
  endforeach()
  target_include_directories(${target} PUBLIC "$<BUILD_INTERFACE:${root}>")
  tabrook_folder(${target} ${folder})
endfunction()

# tabrook_folder(target folder): target is a library of folder (for the
# check of its links); tabrook_headers() says so itself.
function(tabrook_folder target folder)
  set_property(TARGET ${target} PROPERTY TABROOK_FOLDER ${folder})
  set_property(GLOBAL APPEND PROPERTY TABROOK_LIBRARIES ${target})
endfunction()

# tabrook_check_arrows(): every project library links only project libraries
# of its own folder or of a folder its arrow names.
function(tabrook_check_arrows)
  get_property(libraries GLOBAL PROPERTY TABROOK_LIBRARIES)
  foreach(target IN LISTS libraries)
    get_target_property(folder ${target} TABROOK_FOLDER)
    set(allowed "")
    foreach(arrow IN LISTS TABROOK_ARROWS)
      if(arrow MATCHES "^${folder}:(.*)$")
        string(REPLACE "," ";" allowed "${CMAKE_MATCH_1}")
      endif()
    endforeach()
    get_target_property(links ${target} LINK_LIBRARIES)
    foreach(link IN LISTS links)
      if(link IN_LIST libraries)
        get_target_property(linked_folder ${link} TABROOK_FOLDER)
        if(NOT linked_folder STREQUAL folder AND NOT linked_folder IN_LIST allowed)
          message(FATAL_ERROR "${target} (${folder}/) links ${link} (${linked_folder}/), "
                  "which TABROOK_ARROWS does not allow for ${folder}/")
        endif()
      endif()
    endforeach()
  endforeach()
endfunction()
