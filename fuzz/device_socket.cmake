# The device socket's wire format, both directions.
k52_fuzz(device_socket_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/device_socket_fuzz.cpp
  LIBS k52_win32_comm)
