# Scan set-up tests: voltages, ranges, timing and estimates, offline and against the board.
kalder_add_test(tolmar2_scansetup_test
  SOURCES scansetuptest.cpp
  LIBS tolmar2 tolmar2_internal)

kalder_add_test(tolmar2_scansetup_board_test
  SOURCES scansetupboardtest.cpp
  LIBS tolmar2 tolmar2_internal vsensor)
target_compile_definitions(tolmar2_scansetup_board_test PRIVATE
  FIRMWARE_SOURCE_DIR="${CMAKE_SOURCE_DIR}/tolmar2/firmware")
