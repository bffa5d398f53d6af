# YUV to RGB conversion of decoded frames (included from vorn/CMakeLists.txt).
kav_add_family(yuv
  yuv_tables.cpp
  yuv_dispatch.cpp
  yuv_blit.cpp
  yuv_rows_pixel.cpp
  yuv_rows_portable.cpp
  yuv_rows_sse2.cpp
  yuv_rows_avx2.cpp)
