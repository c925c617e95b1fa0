# Binary patches: the patch list, making and applying patches (libzstd).
# Included from the top-level CMakeLists.txt, apart from the folder's own
# CMakeLists.txt, so that the release formats can grow beside it.
set(_tvl_patch_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(tvl_patch STATIC
  ${_tvl_patch_dir}/patch_list.cc
  ${_tvl_patch_dir}/patch_apply.cc
  ${_tvl_patch_dir}/patch_make.cc)
target_include_directories(tvl_patch PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(tvl_patch PUBLIC tvl_base tvl_platform tvl_zstd)

tvl_test(patch_test
  src/release/patch_list_test.cc
  src/release/patch_apply_test.cc)
if(TARGET patch_test)
  target_link_libraries(patch_test PRIVATE tvl_patch)
endif()
