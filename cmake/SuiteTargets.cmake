# Helpers that keep the layering honest: engine libraries may use QtCore and
# QtNetwork only; widget libraries may use everything.

set_property(GLOBAL PROPERTY SUITE_ENGINE_TARGETS "")

# suite_engine_library(<name> SOURCES ... [DEPS ...])
function(suite_engine_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC Qt6::Core Qt6::Network ${ARG_DEPS})
  set_property(GLOBAL APPEND PROPERTY SUITE_ENGINE_TARGETS ${name})
endfunction()

# suite_ui_library(<name> SOURCES ... [DEPS ...])
function(suite_ui_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC Qt6::Core Qt6::Gui Qt6::Widgets ${ARG_DEPS})
endfunction()

# Walks the link closure of a target and fails the configure step when an
# engine library reaches QtGui or QtWidgets.
function(_suite_collect_links target out)
  set(seen ${${out}})
  if(NOT TARGET ${target})
    set(${out} ${seen} PARENT_SCOPE)
    return()
  endif()
  get_target_property(libs ${target} LINK_LIBRARIES)
  if(NOT libs)
    set(libs "")
  endif()
  foreach(lib IN LISTS libs)
    if(NOT lib IN_LIST seen)
      list(APPEND seen ${lib})
      _suite_collect_links(${lib} seen)
    endif()
  endforeach()
  set(${out} ${seen} PARENT_SCOPE)
endfunction()

function(suite_check_layers)
  get_property(engines GLOBAL PROPERTY SUITE_ENGINE_TARGETS)
  foreach(t IN LISTS engines)
    set(closure "")
    _suite_collect_links(${t} closure)
    foreach(bad Qt6::Widgets Qt6::Gui)
      if(bad IN_LIST closure)
        message(FATAL_ERROR "Engine library '${t}' links ${bad}; move the widget code to a ui library.")
      endif()
    endforeach()
  endforeach()
endfunction()

# suite_test(<name> SOURCES ... LIBS ...)
function(suite_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  target_link_libraries(${name} PRIVATE Qt6::Test testsupport ${ARG_LIBS})
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;SUITE_TEST_BIN_DIR=${CMAKE_BINARY_DIR}/tests;SUITE_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    TIMEOUT 300)
endfunction()

# The folders of src/ from the lowest layer to the highest. A folder may
# include from its own layer and the layers below it, never from above; every
# ui/ folder sits above every engine folder, and the programs' main windows
# (shell/tessel, shell/corvane) sit above everything. Folders on one line
# share a layer.
set(SUITE_LAYERS
  "platform"
  "config,controls"
  "ftp"
  "download"
  "queue"
  "intake"
  "ftpclient"
  "shell"
)

# The layer rank of a folder below src/ ("download", "queue/ui",
# "shell/tessel"); empty when the folder is not one of the layers.
function(_suite_layer_rank folder out)
  string(REGEX MATCH "^[^/]+" top "${folder}")
  set(rank "")
  set(i 0)
  foreach(layer IN LISTS SUITE_LAYERS)
    math(EXPR i "${i} + 1")
    string(REPLACE "," ";" members "${layer}")
    if(top IN_LIST members)
      set(rank ${i})
    endif()
  endforeach()
  if(rank STREQUAL "")
    set(${out} "" PARENT_SCOPE)
    return()
  endif()
  if(folder MATCHES "^shell/(tessel|corvane)(/|$)")
    math(EXPR rank "1000")
  elseif(folder MATCHES "^[^/]+/ui(/|$)")
    math(EXPR rank "100 + ${rank}")
  endif()
  set(${out} ${rank} PARENT_SCOPE)
endfunction()

# Fails the configure step when a source file under src/ includes a header
# of a folder above its own, naming the file and the include.
function(suite_check_includes)
  file(GLOB_RECURSE sources RELATIVE ${PROJECT_SOURCE_DIR}/src
       ${PROJECT_SOURCE_DIR}/src/*.h ${PROJECT_SOURCE_DIR}/src/*.cpp)
  set(errors "")
  foreach(src IN LISTS sources)
    get_filename_component(folder "${src}" DIRECTORY)
    _suite_layer_rank("${folder}" own)
    if(own STREQUAL "")
      continue()
    endif()
    file(STRINGS ${PROJECT_SOURCE_DIR}/src/${src} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" header "${line}")
      get_filename_component(target_folder "${header}" DIRECTORY)
      if(target_folder STREQUAL "")
        continue()
      endif()
      _suite_layer_rank("${target_folder}" theirs)
      if(NOT theirs STREQUAL "" AND theirs GREATER own)
        string(APPEND errors "\n  src/${src} includes \"${header}\" from a higher layer")
      endif()
    endforeach()
  endforeach()
  if(errors)
    message(FATAL_ERROR "Layer check failed (allowed order: SUITE_LAYERS in cmake/SuiteTargets.cmake):${errors}")
  endif()
endfunction()
