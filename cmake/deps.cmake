# Third-party libraries behind one interface target, tvl_deps, plus libsodium
# (tvl_sodium) and libzstd (tvl_zstd), which only the code that needs them links.
add_library(tvl_deps INTERFACE)
# minizip from Debian's zlib sources (scripts/setup.sh fetches them) on both
# builds: Debian's libminizip 1.1 never reads the zip64 sizes and offsets of
# a central record on 64-bit Linux (it compares them with (unsigned long)-1),
# so it cannot unpack a member past 4 GiB.
set(TVL_MINIZIP_DIR ${PROJECT_SOURCE_DIR}/.cache/minizip-src CACHE PATH "minizip sources")
if(NOT EXISTS ${TVL_MINIZIP_DIR}/unzip.c)
  message(FATAL_ERROR "minizip sources missing in ${TVL_MINIZIP_DIR}: run scripts/setup.sh")
endif()
add_library(tvl_minizip STATIC ${TVL_MINIZIP_DIR}/unzip.c ${TVL_MINIZIP_DIR}/ioapi.c ${TVL_MINIZIP_DIR}/zip.c)
target_include_directories(tvl_minizip PUBLIC ${TVL_MINIZIP_DIR})
target_compile_options(tvl_minizip PRIVATE -w)
add_library(tvl_zip INTERFACE)
target_link_libraries(tvl_zip INTERFACE tvl_minizip)
if(WIN32)
  target_sources(tvl_minizip PRIVATE ${TVL_MINIZIP_DIR}/iowin32.c)
  target_link_libraries(tvl_minizip PUBLIC z)
  target_link_libraries(tvl_deps INTERFACE tvl_minizip wininet advapi32 gdiplus gdi32 user32 shlwapi d3d9 ole32)
else()
  # fopen64 and friends, which ioapi.c calls on Linux.
  target_compile_definitions(tvl_minizip PRIVATE _LARGEFILE64_SOURCE)
  find_package(CURL REQUIRED)
  find_package(OpenSSL REQUIRED)
  find_package(ZLIB REQUIRED)
  find_package(Threads REQUIRED)
  target_link_libraries(tvl_minizip PUBLIC ZLIB::ZLIB)
  target_link_libraries(tvl_deps INTERFACE tvl_minizip CURL::libcurl OpenSSL::Crypto ZLIB::ZLIB Threads::Threads)
endif()

add_library(tvl_sodium INTERFACE)
add_library(tvl_zstd INTERFACE)
if(WIN32)
  # Static builds from Debian's source packages (scripts/setup.sh makes them).
  set(TVL_MINGW_SODIUM_DIR ${PROJECT_SOURCE_DIR}/.cache/mingw-sodium CACHE PATH "libsodium for mingw")
  set(TVL_MINGW_ZSTD_DIR ${PROJECT_SOURCE_DIR}/.cache/mingw-zstd CACHE PATH "libzstd for mingw")
  foreach(lib ${TVL_MINGW_SODIUM_DIR}/lib/libsodium.a ${TVL_MINGW_ZSTD_DIR}/lib/libzstd.a)
    if(NOT EXISTS ${lib})
      message(FATAL_ERROR "${lib} missing: run scripts/setup.sh")
    endif()
  endforeach()
  target_include_directories(tvl_sodium SYSTEM INTERFACE ${TVL_MINGW_SODIUM_DIR}/include)
  # Without SODIUM_STATIC its header declares every function as a DLL import.
  target_compile_definitions(tvl_sodium INTERFACE SODIUM_STATIC)
  # advapi32: its random numbers come from RtlGenRandom.
  target_link_libraries(tvl_sodium INTERFACE ${TVL_MINGW_SODIUM_DIR}/lib/libsodium.a advapi32)
  target_include_directories(tvl_zstd SYSTEM INTERFACE ${TVL_MINGW_ZSTD_DIR}/include)
  target_link_libraries(tvl_zstd INTERFACE ${TVL_MINGW_ZSTD_DIR}/lib/libzstd.a)
else()
  pkg_check_modules(SODIUM REQUIRED IMPORTED_TARGET libsodium)
  pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
  target_link_libraries(tvl_sodium INTERFACE PkgConfig::SODIUM)
  target_link_libraries(tvl_zstd INTERFACE PkgConfig::ZSTD)
  # The zip CRC-32 of large installs (zlib's is a third of their time).
  pkg_check_modules(DEFLATE REQUIRED IMPORTED_TARGET libdeflate)
endif()
