# The FNX reader family against arbitrary reader bytes on the virtual clock.
k52_fuzz(fnx_reader_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/fnx_reader_fuzz.cpp
  LIBS k52_chiphost_readers)
