# Compiler settings shared by every target of the project.
add_library(linvera_common INTERFACE)
target_compile_features(linvera_common INTERFACE cxx_std_20)
target_compile_options(linvera_common INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor)
if(LINVERA_WERROR)
    target_compile_options(linvera_common INTERFACE -Werror)
endif()
# Every conversion between bytes and text is written out: the program mixes ANSI, UTF-8 and UTF-16.
target_compile_definitions(linvera_common INTERFACE
    QT_NO_CAST_FROM_ASCII
    QT_NO_CAST_TO_ASCII
    QT_NO_CAST_FROM_BYTEARRAY
    QT_USE_QSTRINGBUILDER
    QT_NO_KEYWORDS
    QT_DISABLE_DEPRECATED_BEFORE=0x060400)

if(LINVERA_SANITIZE)
    set(_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    target_compile_options(linvera_common INTERFACE ${_san})
    target_link_options(linvera_common INTERFACE ${_san})
endif()

if(LINVERA_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "LINVERA_FUZZ needs clang (-DCMAKE_CXX_COMPILER=clang++)")
    endif()
    # Coverage for libFuzzer in every library; only the fuzz programs link libFuzzer's own main.
    target_compile_options(linvera_common INTERFACE -fsanitize=fuzzer-no-link)
endif()
