# readerctl's command line.
k52_fuzz(readerctl_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/readerctl_fuzz.cpp LIBS k52_readerctl)
