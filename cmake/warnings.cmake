# Warnings for our own code. They are errors when MP3CUTTER_WERROR is on, which CI turns on.
option(MP3CUTTER_WERROR "Treat compiler warnings as errors" OFF)
if(DEFINED ENV{CI} AND NOT "$ENV{CI}" STREQUAL "" AND NOT "$ENV{CI}" STREQUAL "false")
    set(MP3CUTTER_WERROR ON CACHE BOOL "" FORCE)
endif()

if(MSVC)
    add_compile_options(/W4 /utf-8)
    if(MP3CUTTER_WERROR)
        add_compile_options(/WX)
    endif()
else()
    add_compile_options(-Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
                        -Wcast-qual -Wformat=2 -Wundef -Wimplicit-fallthrough -Wextra-semi
                        -Wzero-as-null-pointer-constant -Wold-style-cast -Wsuggest-override
                        -Wmissing-declarations -Wredundant-decls -Wunused-macros
                        -Wdate-time -Wmismatched-tags -Wdeprecated-copy-dtor)
    # GCC's own: Clang, which builds the fuzz harnesses, knows none of them.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
        add_compile_options(-Wcast-align=strict -Wredundant-tags
                            -Wduplicated-cond -Wduplicated-branches -Wlogical-op)
    else()
        add_compile_options(-Wcast-align)
    endif()
    if(MP3CUTTER_WERROR)
        add_compile_options(-Werror)
    endif()
endif()
