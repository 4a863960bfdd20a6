# Link layer tests: backend selection, the run-time loader and the link-wide state.
# A library lacking one QuickUSB call, for the loader's symbol check.
add_library(incomplete_quickusb SHARED incompletequickusb.cpp)
target_link_libraries(incomplete_quickusb PRIVATE quickusb_api)
target_compile_options(incomplete_quickusb PRIVATE -Wno-unused-parameter)

kalder_add_test(tolmar2_link_tests SOURCES linktest.cpp LIBS tolmar2 tolmar2_internal vsensor)
add_dependencies(tolmar2_link_tests incomplete_quickusb)
target_compile_definitions(tolmar2_link_tests PRIVATE
  VSENSOR_LIBRARY_PATH="$<TARGET_FILE:vsensor>"
  INCOMPLETE_LIBRARY_PATH="$<TARGET_FILE:incomplete_quickusb>")
