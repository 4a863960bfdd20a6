# Scan run and FIFO read-out tests against scripted streams.
# A QuickUSB library whose data port plays the test's script.
add_library(scripted_quickusb SHARED scriptedquickusb.cpp)
target_link_libraries(scripted_quickusb PRIVATE quickusb_api)

kalder_add_test(tolmar2_readout_test
  SOURCES readouttest.cpp timeresolvedtest.cpp unitstest.cpp hostilestreamtest.cpp scriptedboard.cpp
  LIBS tolmar2 tolmar2_internal ${CMAKE_DL_LIBS})
add_dependencies(tolmar2_readout_test scripted_quickusb)
target_compile_definitions(tolmar2_readout_test PRIVATE
  SCRIPTED_LIBRARY_PATH="$<TARGET_FILE:scripted_quickusb>")

# Known-answer scans against the virtual sensor's plasma model.
kalder_add_test(tolmar2_virtual_scan_test
  SOURCES virtualscantest.cpp
  LIBS tolmar2 tolmar2_internal vsensor virtual_link_support)
target_compile_definitions(tolmar2_virtual_scan_test PRIVATE
  FIRMWARE_SOURCE_DIR="${CMAKE_SOURCE_DIR}/tolmar2/firmware")
