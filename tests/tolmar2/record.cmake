# Configuration record: layouts, I2C read and write, erase, link-wide calls.
kalder_add_test(tolmar2_record SOURCES ${CMAKE_CURRENT_LIST_DIR}/recordtest.cpp
  LIBS tolmar2 tolmar2_internal vsensor)
