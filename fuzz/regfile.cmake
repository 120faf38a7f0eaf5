k52_fuzz(regfile_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/regfile_fuzz.cpp LIBS k52_win32)
