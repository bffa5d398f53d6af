# Sound input: opening every source kind (WAVE walk included), reading and
# converting PCM, and lists of sources.
kav_add_family(sfile
  sfile_wave.cpp
  sfile_open.cpp
  sfile_read.cpp
  sfile_list.cpp)
