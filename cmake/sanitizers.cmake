# AddressSanitizer and UndefinedBehaviorSanitizer for every target, for `make test-asan`.
# Undefined behaviour aborts the test instead of printing a line that nobody reads.
option(MP3CUTTER_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
# The fuzz harnesses (tests/fuzz, `make fuzz`): Clang's libFuzzer, the sanitizers on, and every
# library instrumented so that the fuzzer sees which of their branches an input reaches.
option(MP3CUTTER_FUZZ "Build the fuzz harnesses with Clang's libFuzzer" OFF)
if(MP3CUTTER_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "MP3CUTTER_FUZZ needs Clang (-DCMAKE_CXX_COMPILER=clang++)")
    endif()
    set(MP3CUTTER_SANITIZE ON CACHE BOOL "" FORCE)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
if(MP3CUTTER_SANITIZE)
    if(MSVC)
        message(FATAL_ERROR "MP3CUTTER_SANITIZE needs GCC or Clang")
    endif()
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
