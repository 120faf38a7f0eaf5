# PC/SC PIN pad structures from any client into the terminal's PIN commands.
k52_fuzz(pin_pad_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/pin_pad_fuzz.cpp LIBS k52_ifd_core)
