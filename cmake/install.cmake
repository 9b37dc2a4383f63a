# What a host vendor installs besides the library (src/) and the tools
# (tools/): the headers, and on Linux tarvo.pc and the CMake package
# (find_package(Tarvo) gives the imported target Tarvo::tarvo).
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/tarvo DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# Installs SOURCE compressed, as SOURCE's name with .gz, into DESTINATION
# (man pages, the changelog). gzip -n leaves the time out of the file.
function(tarvo_install_gzipped source destination)
  get_filename_component(name ${source} NAME)
  set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
  install(CODE "execute_process(COMMAND gzip -9n -c \"${source}\" OUTPUT_FILE \"${compressed}\"
                                COMMAND_ERROR_IS_FATAL ANY)")
  install(FILES ${compressed} DESTINATION ${destination})
endfunction()

if(NOT WIN32)
  # tarvo.pc names the prefix, which cmake --install --prefix and CPack
  # choose after the build is configured: it is written at install time.
  set(pc_file ${PROJECT_BINARY_DIR}/tarvo.pc)
  install(CODE "
    set(CMAKE_INSTALL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
    set(CMAKE_INSTALL_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
    set(PROJECT_VERSION \"${PROJECT_VERSION}\")
    configure_file(\"${CMAKE_CURRENT_LIST_DIR}/tarvo.pc.in\" \"${pc_file}\" @ONLY)
    file(INSTALL \"${pc_file}\"
         DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig\")")

  # The CMake package finds the files relative to itself.
  include(CMakePackageConfigHelpers)
  set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Tarvo)
  install(EXPORT TarvoTargets FILE TarvoConfig.cmake NAMESPACE Tarvo::
          DESTINATION ${package_dir})
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/TarvoConfigVersion.cmake
                                   COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/TarvoConfigVersion.cmake DESTINATION ${package_dir})

  include(${CMAKE_CURRENT_LIST_DIR}/debian_package.cmake)
endif()
