# What a Windows build of the add-in needs beyond the sources.

# Boost is header-only here, taken from the build machine's /usr/include through a directory
# that holds nothing else: putting all of /usr/include on the path would hide mingw's own C
# headers behind glibc's.
set(OMBRIX_BOOST_ROOT /usr/include/boost CACHE PATH "Boost's headers (the directory named boost)")
if(NOT EXISTS ${OMBRIX_BOOST_ROOT}/version.hpp)
  message(FATAL_ERROR "Boost headers not found in ${OMBRIX_BOOST_ROOT} (scripts/setup installs them)")
endif()
set(boost_include ${PROJECT_BINARY_DIR}/boost-include)
file(MAKE_DIRECTORY ${boost_include})
file(CREATE_LINK ${OMBRIX_BOOST_ROOT} ${boost_include}/boost SYMBOLIC)
add_library(Boost::headers INTERFACE IMPORTED)
set_target_properties(Boost::headers PROPERTIES INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${boost_include}
                                                INTERFACE_INCLUDE_DIRECTORIES ${boost_include})

# The C++ runtime goes into each module: the spreadsheet's machine has no mingw DLLs.
add_link_options(-static-libgcc -static-libstdc++)
# Release modules ship without symbols.
add_link_options($<$<CONFIG:Release>:-s>)

set(OMBRIX_WIN64 OFF)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(OMBRIX_WIN64 ON)
else()
  # Doubles in SSE2 registers, not the x87 stack's 80 bits: the same bits as the 64-bit builds.
  add_compile_options(-msse2 -mfpmath=sse)
endif()

# The callback library's import library, from a .def. 32-bit callers reference the stdcall
# name Excel4v@16; the library exports it undecorated, as Windows system libraries export
# their stdcall functions, so dlltool drops the decoration from the imported name (-k).
if(OMBRIX_WIN64)
  set(EXCEL4V_SYMBOL Excel4v)
else()
  set(EXCEL4V_SYMBOL Excel4v@16)
endif()
find_program(OMBRIX_DLLTOOL NAMES ${OMBRIX_MINGW_TRIPLE}-dlltool REQUIRED)
configure_file(${CMAKE_CURRENT_LIST_DIR}/xlcall32.def.in ${PROJECT_BINARY_DIR}/xlcall32.def @ONLY)
set(xlcall32_import ${PROJECT_BINARY_DIR}/libxlcall32.a)
add_custom_command(OUTPUT ${xlcall32_import}
  COMMAND ${OMBRIX_DLLTOOL} -k -d ${PROJECT_BINARY_DIR}/xlcall32.def -l ${xlcall32_import}
  DEPENDS ${PROJECT_BINARY_DIR}/xlcall32.def
  COMMENT "Import library for XLCALL32.DLL")
add_custom_target(xlcall32_import DEPENDS ${xlcall32_import})
add_library(xlcall32_imports INTERFACE)
target_link_libraries(xlcall32_imports INTERFACE ${xlcall32_import})
add_dependencies(xlcall32_imports xlcall32_import)

# A DLL whose .def names plain stdcall functions: on 32-bit the linker matches each name to
# its decorated symbol (the stdcall fixup), quietly.
function(ombrix_windows_plain_exports target)
  if(NOT OMBRIX_WIN64)
    target_link_options(${target} PRIVATE -Wl,--enable-stdcall-fixup)
  endif()
endfunction()

# The add-in as the spreadsheet loads it: ombrix.xll (32-bit) or ombrix64.xll (64-bit).
function(ombrix_windows_addin target)
  if(OMBRIX_WIN64)
    set(name ombrix64)
  else()
    set(name ombrix)
  endif()
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name} SUFFIX ".xll")
  target_link_libraries(${target} PRIVATE xlcall32_imports ole32 oleaut32 uuid)
  ombrix_windows_plain_exports(${target})
endfunction()
