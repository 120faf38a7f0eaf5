# The card server's request blocks as its channel takes them from clients.
k52_fuzz(chiphost_request_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/chiphost_request_fuzz.cpp
  LIBS k52_chiphost_channel k52_chiphost_core)
target_compile_definitions(chiphost_request_fuzz PRIVATE
  K52_CHIPHOST_CORE_DIR="${PROJECT_SOURCE_DIR}/chiphost/core")
