# Outside input of the simulated card: APDUs and ATRs, vpcd frames from the
# reader driver, and k52card's command line.
k52_fuzz(card_apdu_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/card_apdu_fuzz.cpp LIBS k52_sim_card)
k52_fuzz(card_vpcd_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/card_vpcd_fuzz.cpp LIBS k52_sim_vpcd)
k52_fuzz(card_options_fuzz
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/card_options_fuzz.cpp LIBS k52_sim_vpcd)
# T=1 blocks from a terminal into the card's block transport.
k52_fuzz(card_t1_fuzz SOURCES ${CMAKE_CURRENT_LIST_DIR}/card_t1_fuzz.cpp LIBS k52_sim_card)
