# The DLL's resources: the type library, compiled from its .idl with widl,
# and the .rc that embeds it next to the version block.
#
# The .idl imports IDispatch from the standard automation library
# (stdole2.tlb), which widl must read; Wine ships one.
enable_language(RC)

find_program(TARVO_WIDL NAMES ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32-widl x86_64-w64-mingw32-widl
                              widl REQUIRED)
find_path(TARVO_STDOLE2_DIR stdole2.tlb
          PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
                /usr/lib64/wine/x86_64-windows /usr/lib/x86_64-linux-gnu/wine
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH REQUIRED)

function(tarvo_add_resources target idl rc)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(arch --win64)
  else()
    set(arch --win32)
  endif()
  set(tlb ${CMAKE_CURRENT_BINARY_DIR}/tarvo.tlb)
  add_custom_command(
    OUTPUT ${tlb}
    COMMAND ${TARVO_WIDL} ${arch} --nostdinc -L ${TARVO_STDOLE2_DIR} -t -o ${tlb}
            ${CMAKE_CURRENT_SOURCE_DIR}/${idl}
    DEPENDS ${idl}
    COMMENT "Compiling the type library ${idl}"
    VERBATIM)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS ${tlb})
  set_property(SOURCE ${rc} APPEND PROPERTY INCLUDE_DIRECTORIES ${CMAKE_CURRENT_BINARY_DIR})
  target_sources(${target} PRIVATE ${rc} ${tlb})
endfunction()
