# Bytes from the card into the smart card driver library: answers-to-reset,
# and T=1 blocks in answer to the reader's blocks.
k52_fuzz(smclib_atr_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/smclib_atr_fuzz.cpp LIBS k52_smclib)
k52_fuzz(smclib_t1_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/smclib_t1_fuzz.cpp LIBS k52_smclib)
