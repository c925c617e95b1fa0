# Binary patches: the patch list, making and applying patches (libzstd).
# Included from the top-level CMakeLists.txt before the publisher, which
# links tvl_patch when it exists.

# Until cmake/deps.cmake defines tvl_zstd for both builds: Debian's
# libzstd-dev natively; the Windows build goes without patches.
if(NOT TARGET tvl_zstd AND NOT WIN32)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(TVL_LIBZSTD REQUIRED IMPORTED_TARGET libzstd)
  add_library(tvl_zstd INTERFACE)
  target_link_libraries(tvl_zstd INTERFACE PkgConfig::TVL_LIBZSTD)
endif()

if(TARGET tvl_zstd)
  set(_tvl_patch_dir ${CMAKE_CURRENT_LIST_DIR})
  add_library(tvl_patch STATIC
    ${_tvl_patch_dir}/patch_list.cc
    ${_tvl_patch_dir}/patch_apply.cc
    ${_tvl_patch_dir}/patch_make.cc)
  if(WIN32)
    target_sources(tvl_patch PRIVATE ${_tvl_patch_dir}/patch_md5_win32.cc)
  else()
    target_sources(tvl_patch PRIVATE ${_tvl_patch_dir}/patch_md5_posix.cc)
  endif()
  target_include_directories(tvl_patch PUBLIC ${PROJECT_SOURCE_DIR}/src)
  # tvl for the platform files and isSafeRelativePath, until those move to
  # the base and platform libraries.
  target_link_libraries(tvl_patch PUBLIC tvl tvl_zstd)

  tvl_test(patch_test
    src/release/patch_list_test.cc
    src/release/patch_apply_test.cc)
  if(TARGET patch_test)
    target_link_libraries(patch_test PRIVATE tvl_patch)
  endif()
endif()
