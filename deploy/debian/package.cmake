# The Debian package: `cmake --build build/default --target package` makes
# pdsi_VERSION_ARCH.deb in the build folder. The files are those of
# `cmake --install` under /usr; the scripts beside this file only tell
# systemd, and on purge remove the grid.
find_program(GZIP gzip REQUIRED)
# Debian keeps man pages and changelogs compressed, without a time stamp.
set(pdsi_gzipped)
foreach(source man/pdsi.1 man/pdsi-serve.1 man/pdsiserver.1 deploy/debian/changelog)
  get_filename_component(name ${source} NAME)
  set(gz ${CMAKE_BINARY_DIR}/gz/${name}.gz)
  add_custom_command(OUTPUT ${gz}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/gz
    COMMAND ${GZIP} -9n -c ${PROJECT_SOURCE_DIR}/${source} > ${gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/${source} VERBATIM)
  list(APPEND pdsi_gzipped ${gz})
endforeach()
add_custom_target(gzipped_docs ALL DEPENDS ${pdsi_gzipped})
list(FILTER pdsi_gzipped INCLUDE REGEX "\\.1\\.gz$")
set(pdsi_man_pages ${pdsi_gzipped})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pdsi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "the pdsi developers")
set(CPACK_PACKAGE_CONTACT "pdsi developers <pdsi@example.org>" CACHE STRING "The package's Maintainer field")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "monthly Palmer Drought Severity Index data server")
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Monthly PDSI values on a global 2.5-degree land grid, 1850-2010: a box's\n"
  "series extracted and gap-filled, as text, NetCDF, CSV, GeoTIFF, area\n"
  "indices and a report page. pdsi does it from one command line and, as pdsi\n"
  "serve, over HTTP with the grid held in memory (files by URL, OPeNDAP, WMS,\n"
  "Zarr, a home page with the month's values);\n"
  "pdsiserver does it in a console dialogue. The systemd unit pdsi.service\n"
  "serves /var/lib/pdsi/pdsisc1850-2010.txt on 127.0.0.1:8080; it is\n"
  "installed but not enabled.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# NetCDF and GDAL are loaded when first needed (formats/), so
# dpkg-shlibdeps cannot see them: each one's dependency is the one its own
# package declares.
set(pdsi_loaded_depends "")
foreach(pdsi_library IN ITEMS ${NETCDF_LIBRARY} ${GDAL_LIBRARY})
  get_filename_component(pdsi_library_file ${pdsi_library} REALPATH)
  execute_process(COMMAND dpkg-query --search ${pdsi_library_file} OUTPUT_VARIABLE pdsi_library_package
                  ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
  string(REGEX REPLACE ": .*" "" pdsi_library_package "${pdsi_library_package}")
  if(pdsi_library_package)
    execute_process(COMMAND dpkg-query --control-show ${pdsi_library_package} shlibs
                    OUTPUT_VARIABLE pdsi_library_shlibs ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    # "libnetcdf 19 libnetcdf19 (>= 1:4.9.0)": the dependency follows the soname.
    if(pdsi_library_shlibs MATCHES "^[^ ]+ [^ ]+ ([^\n]+)")
      list(APPEND pdsi_loaded_depends "${CMAKE_MATCH_1}")
    endif()
  endif()
endforeach()
list(JOIN pdsi_loaded_depends ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The grid's folder is outside the prefix; the install rules see /usr.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/deploy/debian/postinst
  ${PROJECT_SOURCE_DIR}/deploy/debian/prerm
  ${PROJECT_SOURCE_DIR}/deploy/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
