# Configuration record: layouts, I2C read and write, erase, link-wide calls.
kalder_add_test(tolmar2_record
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/recordimage.cpp ${CMAKE_CURRENT_LIST_DIR}/recordlayouttest.cpp
          ${CMAKE_CURRENT_LIST_DIR}/recordi2ctest.cpp
  LIBS tolmar2 tolmar2_internal vsensor)
# The virtual sensor also exports the QuickUSB calls, so it can stand in for the vendor library.
target_compile_definitions(tolmar2_record PRIVATE VSENSOR_LIBRARY_PATH="$<TARGET_FILE:vsensor>")
