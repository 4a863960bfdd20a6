// The library on the built-in virtual sensor for tests: virtual link, firmware from the source
// tree, no real waits (library sleeps and I2C pauses), the emulation at power-on streaming as
// fast as it is read.
#ifndef TESTS_SUPPORT_VIRTUALLINK_H
#define TESTS_SUPPORT_VIRTUALLINK_H

// Returns false when the virtual link cannot be selected.
bool useVirtualLink(const char* firmwareDir);
// Resets the emulation and gives the library its real waits and default link back.
void releaseVirtualLink();

#endif  // TESTS_SUPPORT_VIRTUALLINK_H
