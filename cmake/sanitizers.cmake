# AddressSanitizer and UndefinedBehaviorSanitizer for every target, for `make test-asan`.
# Undefined behaviour aborts the test instead of printing a line that nobody reads.
option(MP3CUTTER_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(MP3CUTTER_SANITIZE)
    if(MSVC)
        message(FATAL_ERROR "MP3CUTTER_SANITIZE needs GCC or Clang")
    endif()
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                        -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()
