# Harmolune's build options, compiler flags and dependencies, all in one
# place, with a summary printed at configure time. Included once from the top
# CMakeLists; every folder below uses the targets found here.

option(HARMOLUNE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(HARMOLUNE_TSAN "Build with ThreadSanitizer" OFF)
option(HARMOLUNE_BENCHMARKS "Build the benchmarks" ON)
option(HARMOLUNE_GUI "Build the window (needs Qt 6)" ON)
option(HARMOLUNE_SOUND "Build the sound backends (needs FluidSynth and libpulse)" ON)

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)
if(NOT CMAKE_BUILD_TYPE)
  set(CMAKE_BUILD_TYPE RelWithDebInfo)
endif()

# The analysis must give the same bits as any other evaluation of the same
# steps: no fused multiply-add, no reassociation.
add_compile_options(-Wall -Wextra -ffp-contract=off)

# -ffast-math and the options it is made of let the compiler reorder, fuse
# and approximate that arithmetic, and a later option cannot take all of it
# back: the build refuses them wherever they are given.
function(harmolune_refuse_fast_math where flags)
  if(flags MATCHES "(^|[ ;])(-ffast-math|-Ofast|-funsafe-math-optimizations|-fassociative-math|-freciprocal-math)([ ;]|$)")
    message(FATAL_ERROR "${CMAKE_MATCH_2} found in ${where}. Harmolune's analysis must "
      "give the same bits as any other evaluation of the same steps, which "
      "${CMAKE_MATCH_2} does not keep. Remove it and configure again.")
  endif()
endfunction()
foreach(config "" _DEBUG _RELEASE _RELWITHDEBINFO _MINSIZEREL)
  harmolune_refuse_fast_math(CMAKE_CXX_FLAGS${config} "${CMAKE_CXX_FLAGS${config}}")
endforeach()

# The same refusal for options given to a folder or a target: called at the
# end of the top CMakeLists, once every folder is known.
function(harmolune_refuse_fast_math_in dir)
  get_property(options DIRECTORY ${dir} PROPERTY COMPILE_OPTIONS)
  harmolune_refuse_fast_math("the compile options of ${dir}" "${options}")
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(options ${target} COMPILE_OPTIONS)
    harmolune_refuse_fast_math("the compile options of target ${target}" "${options}")
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    harmolune_refuse_fast_math_in(${subdir})
  endforeach()
endfunction()

# Debian's hardening, as the package needs it: checked libc calls where the
# sizes are known, and relocations read-only from the start. Left out of the
# sanitizer builds, whose own checks cover the same calls.
if(NOT HARMOLUNE_SANITIZE AND NOT HARMOLUNE_TSAN AND NOT CMAKE_CXX_FLAGS MATCHES "-fsanitize")
  add_compile_definitions($<$<NOT:$<CONFIG:Debug>>:_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro,-z,now)
endif()
if(HARMOLUNE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
if(HARMOLUNE_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

# The executables land at the top of the build tree: build/harmolune,
# build/harmolune-measure.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Dependencies, each found once. Imported targets made here are seen by every
# folder below.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
pkg_check_modules(FFTW3 REQUIRED IMPORTED_TARGET fftw3)
# harmolune-measure reads recordings through libsndfile and libsoxr.
pkg_check_modules(SNDFILE REQUIRED IMPORTED_TARGET sndfile)
pkg_check_modules(SOXR REQUIRED IMPORTED_TARGET soxr)
# The tuning curve's least-squares solve (header-only), and the piano's
# record, a JSON file (header-only too).
find_package(Eigen3 3.4 REQUIRED NO_MODULE)
find_package(nlohmann_json 3 REQUIRED)
if(HARMOLUNE_SOUND)
  pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET libpulse)
  pkg_check_modules(FLUIDSYNTH REQUIRED IMPORTED_TARGET fluidsynth)
endif()
if(HARMOLUNE_GUI)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets Test)
endif()
if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()
if(HARMOLUNE_BENCHMARKS)
  find_package(benchmark REQUIRED)
  if(HARMOLUNE_GUI AND HARMOLUNE_SOUND)
    pkg_check_modules(PULSE_SIMPLE REQUIRED IMPORTED_TARGET libpulse-simple)
    pkg_check_modules(XCB REQUIRED IMPORTED_TARGET xcb)
  endif()
endif()

# A test program of gtest cases, each case a CTest test with a time limit, so
# that a hung test fails instead of holding CI.
#   harmolune_test(NAME SOURCES ... LIBS ... [TIMEOUT s] [LABELS ...] [PROPERTIES ...])
# LABELS: "sound" for the tests against the private sound server, "threads"
# for those whose code runs on more than one thread (make test-sanitize runs
# them under ThreadSanitizer with ctest -L threads).
function(harmolune_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS;LABELS;PROPERTIES" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 60)
  endif()
  add_executable(${name} ${T_SOURCES})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  # Where the tests find the files they share (testing/).
  target_compile_definitions(${name} PRIVATE HARMOLUNE_TESTING_DIR="${PROJECT_SOURCE_DIR}/testing")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30
    PROPERTIES TIMEOUT ${T_TIMEOUT} ${T_PROPERTIES})
  if(T_LABELS)
    # gtest_discover_tests splits a list given as a property value, so the
    # labels are set by a script of their own, run after the discovered tests
    # are added.
    set(script ${CMAKE_CURRENT_BINARY_DIR}/${name}-labels.cmake)
    file(WRITE ${script} "foreach(test IN LISTS ${name}_TESTS)\n"
      "  set_tests_properties(\"\${test}\" PROPERTIES LABELS \"${T_LABELS}\")\n"
      "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${script})
  endif()
endfunction()

function(harmolune_summary)
  message(STATUS "Harmolune ${PROJECT_VERSION} (${CMAKE_BUILD_TYPE}), C++ ${CMAKE_CXX_COMPILER_ID} ${CMAKE_CXX_COMPILER_VERSION}")
  foreach(option HARMOLUNE_GUI HARMOLUNE_SOUND BUILD_TESTING HARMOLUNE_BENCHMARKS
                 HARMOLUNE_SANITIZE HARMOLUNE_TSAN)
    message(STATUS "  ${option} = ${${option}}")
  endforeach()
  message(STATUS "  FFTW ${FFTW3_VERSION}, libsndfile ${SNDFILE_VERSION}, libsoxr ${SOXR_VERSION}")
  message(STATUS "  Eigen ${Eigen3_VERSION}, nlohmann-json ${nlohmann_json_VERSION}")
  if(HARMOLUNE_SOUND)
    message(STATUS "  libpulse ${PULSE_VERSION}, FluidSynth ${FLUIDSYNTH_VERSION}")
  endif()
  if(HARMOLUNE_GUI)
    message(STATUS "  Qt ${Qt6_VERSION}")
  endif()
endfunction()
