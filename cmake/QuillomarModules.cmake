# Each engine folder under src/ is one static library, quillomar_<folder>, made of every
# .cpp file in it and its sub-folders except ui/. Tests under tests/<folder>/ link that library, so a
# test builds only the part of the engine it exercises.
function(quillomar_module name)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  # Windows of a subsystem live in its ui/ sub-folder and belong to quillomar_ui.
  list(FILTER sources EXCLUDE REGEX "/ui/")
  set(cpp ${sources})
  list(FILTER cpp INCLUDE REGEX ".*\\.cpp$")
  if(cpp)
    add_library(quillomar_${name} STATIC ${sources})
    set(scope PUBLIC)
  else()
    # A folder that holds no code yet still gives a target, so that dependents link.
    add_library(quillomar_${name} INTERFACE)
    set(scope INTERFACE)
  endif()
  target_include_directories(quillomar_${name} ${scope} ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(quillomar_${name} ${scope} Qt6::Core Qt6::Gui ${ARG_DEPENDS})
endfunction()

# One Qt Test executable per tests/<folder>/tst_*.cpp, linked to the given libraries and
# registered with CTest under <folder>/<name>. Shared test helpers live in tests/common.
function(quillomar_tests folder)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${folder}/tst_*.cpp)
  # tests_<folder> builds every test of the folder (the sanitizer build uses it).
  add_custom_target(tests_${folder})
  foreach(src ${tests})
    get_filename_component(base ${src} NAME_WE)
    set(target ${folder}_${base})
    add_executable(${target} ${src})
    target_link_libraries(${target} PRIVATE quillomar_testsupport ${ARG_LIBS} Qt6::Test)
    add_dependencies(tests_${folder} ${target})
    add_test(NAME ${folder}/${base} COMMAND ${target})
    set_tests_properties(${folder}/${base} PROPERTIES
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen;QUILLOMAR_BINARY_DIR=${PROJECT_BINARY_DIR}"
      TIMEOUT 900)
  endforeach()
endfunction()
