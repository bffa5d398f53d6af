# Compressed sound writer: open and level tables, block framing, delta coder.
kav_add_family(csfile
  csfile_open.cpp
  csfile_block.cpp
  csfile_delta.cpp)
