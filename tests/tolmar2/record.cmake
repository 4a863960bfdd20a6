# Configuration record: layouts, I2C read and write, erase, link-wide calls.
kalder_add_test(tolmar2_record
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/RecordImage.cpp ${CMAKE_CURRENT_LIST_DIR}/RecordLayoutTest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/RecordI2cTest.cpp
  LIBS tolmar2 tolmar2_internal vsensor)
# The virtual sensor also exports the QuickUSB calls, so it can stand in for the vendor library.
target_compile_definitions(tolmar2_record PRIVATE VSENSOR_LIBRARY_PATH="$<TARGET_FILE:vsensor>")
