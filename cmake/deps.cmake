# Third-party libraries behind one interface target, tvl_deps.
add_library(tvl_deps INTERFACE)
if(WIN32)
  # minizip from Debian's zlib sources (scripts/setup.sh fetches them), over
  # Debian's zlib for mingw.
  set(TVL_MINIZIP_DIR ${PROJECT_SOURCE_DIR}/.cache/minizip-src CACHE PATH "minizip sources")
  if(NOT EXISTS ${TVL_MINIZIP_DIR}/unzip.c)
    message(FATAL_ERROR "minizip sources missing in ${TVL_MINIZIP_DIR}: run scripts/setup.sh")
  endif()
  add_library(tvl_minizip STATIC ${TVL_MINIZIP_DIR}/unzip.c ${TVL_MINIZIP_DIR}/ioapi.c
    ${TVL_MINIZIP_DIR}/iowin32.c ${TVL_MINIZIP_DIR}/zip.c)
  target_include_directories(tvl_minizip PUBLIC ${TVL_MINIZIP_DIR})
  target_compile_options(tvl_minizip PRIVATE -w)
  target_link_libraries(tvl_minizip PUBLIC z)
  target_link_libraries(tvl_deps INTERFACE tvl_minizip wininet advapi32 gdiplus gdi32 user32 shlwapi d3d9 ole32)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(MINIZIP REQUIRED IMPORTED_TARGET minizip)
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED)
  find_package(ZLIB REQUIRED)
  find_package(Threads REQUIRED)
  target_link_libraries(tvl_deps INTERFACE PkgConfig::MINIZIP CURL::libcurl OpenSSL::Crypto ZLIB::ZLIB Threads::Threads)
endif()
