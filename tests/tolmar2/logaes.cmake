# Message log and block cipher tests.
find_package(OpenSSL REQUIRED)
kalder_add_test(tolmar2_msglogger_test SOURCES MsgLoggerTest.cpp IsolatedRun.cpp LIBS tolmar2)
kalder_add_test(tolmar2_aes_test SOURCES AesTest.cpp IsolatedRun.cpp LIBS tolmar2 OpenSSL::Crypto)
