k52_fuzz(win32msg_wire_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/win32msg_wire_fuzz.cpp
  LIBS k52_win32_messaging)
