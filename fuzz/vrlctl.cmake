# vrlctl's command line.
k52_fuzz(vrlctl_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/vrlctl_fuzz.cpp LIBS vrlctl_core)
