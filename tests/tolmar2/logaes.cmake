# Message log and block cipher tests.
kalder_add_test(tolmar2_msglogger_test SOURCES msgloggertest.cpp LIBS tolmar2)
kalder_add_test(tolmar2_aes_test SOURCES aestest.cpp LIBS tolmar2)
