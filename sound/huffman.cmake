# Two-pass Huffman coder (byte and word coders) for the delta sound blocks
# and the house video trees.
kav_add_family(huffman
  huffman_coder.cpp
  huffman_tree.cpp)
