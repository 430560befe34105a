# tavoctl_system_library(TARGET HEADERS HEADER... LIBRARIES SONAME...)
#
# Finds a library that Debian installs: its headers (the same for every
# architecture) and its shared libraries for the architecture being built
# (for an ARM build, the foreign-architecture runtime package, such as
# libmosquitto1:arm64, whose file is the soname alone). Defines TARGET, an
# interface library that brings just those headers, never all of
# /usr/include, which would shadow a cross compiler's C library: the folder
# it adds holds a link to the first part of each HEADER's path (a file, or a
# folder such as nlohmann/). Sets TARGET_FOUND, and TARGET_MISSING to what
# was not found, for the caller's one line on why it leaves something out.
function(tavoctl_system_library target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "HEADERS;LIBRARIES")
  set(library_dir /usr/lib/${CMAKE_LIBRARY_ARCHITECTURE})
  set(api ${CMAKE_CURRENT_BINARY_DIR}/${target}-api)
  set(missing)
  set(links)
  foreach(header IN LISTS arg_HEADERS)
    string(MAKE_C_IDENTIFIER "TAVOCTL_${target}_${header}" variable)
    find_path(${variable} ${header} NO_CMAKE_FIND_ROOT_PATH)
    if(${variable})
      string(REGEX REPLACE "/.*" "" first ${header})
      list(APPEND links ${${variable}}/${first})
    else()
      list(APPEND missing ${header})
    endif()
  endforeach()
  set(libraries)
  foreach(soname IN LISTS arg_LIBRARIES)
    string(REGEX REPLACE "^lib(.*)\\.so.*$" "\\1" name ${soname})
    string(MAKE_C_IDENTIFIER "TAVOCTL_${target}_${name}_LIBRARY" variable)
    find_library(${variable} NAMES ${name} ${soname} HINTS ${library_dir} NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(${variable})
      list(APPEND libraries ${${variable}})
    else()
      list(APPEND missing "${soname} in ${library_dir}")
    endif()
  endforeach()
  set(${target}_MISSING "${missing}" PARENT_SCOPE)
  if(missing)
    set(${target}_FOUND OFF PARENT_SCOPE)
    return()
  endif()
  file(MAKE_DIRECTORY ${api})
  foreach(link IN LISTS links)
    get_filename_component(name ${link} NAME)
    file(CREATE_LINK ${link} ${api}/${name} SYMBOLIC)
  endforeach()
  add_library(${target} INTERFACE)
  target_include_directories(${target} SYSTEM INTERFACE ${api})
  target_link_libraries(${target} INTERFACE ${libraries})
  set(${target}_FOUND ON PARENT_SCOPE)
endfunction()
