# wedgecard_driver_members(<idl> <header>): writes <header>, the class name and the methods of the
# driver's type library in C++: each method's English name and its help string, the Russian name,
# in the order the interface declares them, as UTF-16 literals. Both bindings take the Russian
# names from this header, not from the type library: its loader reads help strings in the
# system's code page, which may have no Cyrillic letters. The IDL stays their one source. Run at
# configure time, and again whenever the IDL changes.
function(wedgecard_driver_members idl header)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${idl})
    file(READ ${idl} text)

    string(REGEX MATCH "coclass[ \t\r\n]+([A-Za-z_][A-Za-z0-9_]*)" class "${text}")
    if(NOT class)
        message(FATAL_ERROR "${idl}: no coclass")
    endif()
    set(class_name ${CMAKE_MATCH_1})

    set(method_pattern
        "\\[id\\(([0-9]+)\\), helpstring\\(\"([^\"]*)\"\\)\\][ \t\r\n]*HRESULT[ \t]+([A-Za-z_][A-Za-z0-9_]*)\\(")
    string(REGEX MATCHALL "${method_pattern}" methods "${text}")
    if(NOT methods)
        message(FATAL_ERROR "${idl}: no methods of the form [id(n), helpstring(\"...\")] HRESULT Name(")
    endif()
    set(rows "")
    set(count 0)
    foreach(method IN LISTS methods)
        string(REGEX MATCH "${method_pattern}" parts "${method}")
        string(APPEND rows "    {L\"${CMAKE_MATCH_3}\", L\"${CMAKE_MATCH_2}\"},\n")
        math(EXPR count "${count} + 1")
    endforeach()

    file(RELATIVE_PATH source ${PROJECT_SOURCE_DIR} ${idl})
    set(content "// Made from ${source} by cmake/DriverMembers.cmake at configure time.
#pragma once

#include <array>
#include <string_view>

namespace wedgecard {

struct TDriverMethod {
    std::wstring_view Name;
    std::wstring_view Alias;
};

inline constexpr std::wstring_view DriverClassName = L\"${class_name}\";

inline constexpr std::array<TDriverMethod, ${count}> DriverMethods = {{
${rows}}};

}  // namespace wedgecard
")
    # Unchanged content keeps its time stamp, so a new configure rebuilds nothing.
    file(CONFIGURE OUTPUT ${header} CONTENT "${content}" @ONLY)
endfunction()
