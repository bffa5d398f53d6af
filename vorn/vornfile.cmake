# The Vorn container reader: file layer, open, frames and sound tracks
# (included from vorn/CMakeLists.txt).
kav_add_family(vornfile
  vorn_io.cpp
  vorn_alloc.cpp
  vorn_open.cpp
  vorn_frames.cpp
  vorn_tracks.cpp)
