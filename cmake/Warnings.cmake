# Warnings every target of the project links through rorumo_warnings.
add_library(rorumo_warnings INTERFACE)
if(MSVC)
    target_compile_options(rorumo_warnings INTERFACE /W4 /permissive-)
else()
    target_compile_options(rorumo_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow
        -Wnon-virtual-dtor -Woverloaded-virtual -Wcast-align)
    if(RORUMO_WERROR)
        target_compile_options(rorumo_warnings INTERFACE -Werror)
    endif()
endif()
