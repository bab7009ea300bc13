# Sanitizer and fuzzing builds (clang only). scripts/test.sh --sanitize and scripts/fuzz.sh
# configure their own build folders with these options; an ordinary build sets neither.
#
# VELMORA_SANITIZE: the whole project and its tests with AddressSanitizer (LeakSanitizer
# included) and UndefinedBehaviorSanitizer; any report ends the process with a failure.
# VELMORA_FUZZ: additionally the libFuzzer targets of tests/fuzz, with coverage
# instrumentation in every library they link.
option(VELMORA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer (clang)" OFF)
option(VELMORA_FUZZ "Build the libFuzzer targets in tests/fuzz (clang, implies VELMORA_SANITIZE)" OFF)

if(VELMORA_FUZZ)
  set(VELMORA_SANITIZE ON CACHE BOOL "" FORCE)
endif()

# Marks tests whose process runs Chromium (Qt WebEngine), or that start velmora, which does.
# Chromium's own code in libQt6WebEngineCore deletes objects through a base class of a smaller
# size (sized delete of 24 bytes on an 88-byte object, seen as soon as a page loads). ASan cannot
# suppress that report by library, so those tests alone run without the new/delete size check;
# every other test keeps it for Velmora's code, and -Wdelete-non-virtual-dtor guards it at build
# time.
function(velmora_web_engine_tests)
  if(VELMORA_SANITIZE)
    set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT_MODIFICATION
                 "ASAN_OPTIONS=string_append::new_delete_type_mismatch=0")
  endif()
endfunction()

# Tests that run without LeakSanitizer for a known leak in Velmora that awaits its fix; each
# call says which leak. Leak detection stays on for every other test.
function(velmora_tests_without_leak_check)
  if(VELMORA_SANITIZE)
    set_property(TEST ${ARGN} APPEND PROPERTY ENVIRONMENT_MODIFICATION "ASAN_OPTIONS=string_append::detect_leaks=0")
  endif()
endfunction()

if(NOT VELMORA_SANITIZE)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "VELMORA_SANITIZE and VELMORA_FUZZ need clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
endif()

# -fno-sanitize=function: clang 14 cannot emit that check's prologue data for split coroutine
# functions ("Cannot represent a difference across sections", llvm-project issue 49689); it
# only guards calls through function pointers of the wrong type, which C++ code rarely makes.
# -O1 keeps the instrumented test suite fast enough; frame pointers give full stacks.
add_compile_options(-fsanitize=address,undefined -fno-sanitize=function -fno-sanitize-recover=undefined
                    -fno-omit-frame-pointer -O1)
add_link_options(-fsanitize=address,undefined)
if(VELMORA_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# How the tests run under the sanitizers. Every report fails its test; the suppression files
# beside tests/sanitizers name only third-party libraries.
set(VELMORA_SANITIZER_DIR ${PROJECT_SOURCE_DIR}/tests/sanitizers)
set(VELMORA_SANITIZER_TEST_ENV
  "ASAN_OPTIONS=detect_stack_use_after_return=1:strict_init_order=1:check_initialization_order=1:detect_leaks=1:abort_on_error=0:suppressions=${VELMORA_SANITIZER_DIR}/asan.supp"
  "LSAN_OPTIONS=suppressions=${VELMORA_SANITIZER_DIR}/lsan.supp:print_suppressions=0"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:suppressions=${VELMORA_SANITIZER_DIR}/ubsan.supp")

# Libraries stay loaded in test processes, so that LeakSanitizer sees what they hold and names
# them (see the file). Built without instrumentation: it is preloaded into every child process
# of a test too, such as the backend's Python interpreter.
add_library(velmora_keep_libraries_loaded SHARED ${VELMORA_SANITIZER_DIR}/keep_libraries_loaded.cpp)
target_compile_options(velmora_keep_libraries_loaded PRIVATE -fno-sanitize=all)
target_link_options(velmora_keep_libraries_loaded PRIVATE -fno-sanitize=all)
list(APPEND VELMORA_SANITIZER_TEST_ENV "LD_PRELOAD=$<TARGET_FILE:velmora_keep_libraries_loaded>")
