# wedgecard_type_library(<name> <idl>): builds <name>.tlb and the C++ declarations <name>_TLB.h
# from an IDL kept in UTF-8, into the current binary folder. The copy handed to widl is
# Windows-1251, so names and help strings read back right with that ANSI code page.
set(WEDGECARD_WIDL ${WEDGECARD_MINGW_TRIPLE}-widl)
set(WEDGECARD_WINE_IDL /usr/include/wine/wine/windows)
set(WEDGECARD_STDOLE_DIR /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    set(WEDGECARD_WIDL_ARCH --win32)
else()
    set(WEDGECARD_WIDL_ARCH --win64)
endif()

function(wedgecard_type_library name idl)
    set(source ${CMAKE_CURRENT_SOURCE_DIR}/${idl})
    set(cp1251 ${CMAKE_CURRENT_BINARY_DIR}/${name}.cp1251.idl)
    set(tlb ${CMAKE_CURRENT_BINARY_DIR}/${name}.tlb)
    set(header ${CMAKE_CURRENT_BINARY_DIR}/${name}_TLB.h)
    add_custom_command(
        OUTPUT ${tlb} ${header}
        COMMAND iconv -f UTF-8 -t CP1251 ${source} -o ${cp1251}
        COMMAND ${WEDGECARD_WIDL} ${WEDGECARD_WIDL_ARCH} -I${WEDGECARD_WINE_IDL}
                -L${WEDGECARD_STDOLE_DIR} -t -o ${tlb} ${cp1251}
        COMMAND ${WEDGECARD_WIDL} ${WEDGECARD_WIDL_ARCH} -I${WEDGECARD_WINE_IDL}
                -h -H ${header} -o ${header} ${cp1251}
        DEPENDS ${source}
        COMMENT "Type library ${name}"
        VERBATIM)
    add_custom_target(${name}_typelib DEPENDS ${tlb} ${header})
endfunction()
