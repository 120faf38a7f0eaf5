# Scan-code streams and keystroke mixes through the channel driver's read filter.
k52_fuzz(read_filter_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/read_filter_fuzz.cpp LIBS vrlpcsc)
