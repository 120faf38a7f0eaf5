k52_fuzz(ctdata_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/ctdata_fuzz.cpp
  LIBS k52_ctbridge_core k52_pcsc_fake)
k52_fuzz(command_spec_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/command_spec_fuzz.cpp
  LIBS k52_shell_parse)
