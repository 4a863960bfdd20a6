# Scan set-up tests: voltages, ranges, timing and estimates, offline and against the board.
kalder_add_test(tolmar2_scansetup_test
  SOURCES ScanSetupTest.cpp ScanTestSupport.cpp
  LIBS tolmar2 tolmar2_internal)
