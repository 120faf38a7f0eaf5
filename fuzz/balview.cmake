# Answers of the CT-API library balview reads the card through.
k52_fuzz(balview_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/balview_fuzz.cpp LIBS k52_balview_core)
