// Declarations of the QuickUSB host-library calls the sensor library uses, with the vendor
// library's Linux types. Both link backends (the vendor library loaded at run time and the
// built-in virtual sensor) provide exactly these symbols.
//
// Every call returns nonzero on success and zero on failure.
#ifndef QUICKUSB_QUICKUSBAPI_H
#define QUICKUSB_QUICKUSBAPI_H

typedef signed long QRETURN;
typedef signed short QHANDLE;
typedef unsigned char QBYTE;
typedef unsigned short QWORD;
typedef unsigned long QULONG;

// The full call list, once: X(name, parameter list, argument list).
// The backend table, the run-time loader and the forwarding functions are generated from it,
// so a call cannot be added to one of them and forgotten in another. Open and Close are kept
// apart because the link layer tracks the most recently opened module through them.
#define QUICKUSB_MODULE_CALLS(X)                                            \
    X(QuickUsbOpen, (QHANDLE * hDevice, char* devName), (hDevice, devName)) \
    X(QuickUsbClose, (QHANDLE hDevice), (hDevice))

#define QUICKUSB_API_CALLS(X) QUICKUSB_MODULE_CALLS(X) QUICKUSB_TRANSFER_CALLS(X)

#define QUICKUSB_TRANSFER_CALLS(X)                                                                 \
    X(QuickUsbFindModules, (char* nameList, QULONG length), (nameList, length))                    \
    X(QuickUsbGetStringDescriptor, (QHANDLE hDevice, QBYTE index, char* buffer, QWORD length),     \
      (hDevice, index, buffer, length))                                                            \
    X(QuickUsbReadSetting, (QHANDLE hDevice, QWORD address, QWORD * value),                        \
      (hDevice, address, value))                                                                   \
    X(QuickUsbWriteSetting, (QHANDLE hDevice, QWORD address, QWORD value),                         \
      (hDevice, address, value))                                                                   \
    X(QuickUsbGetDriverVersion, (QWORD * major, QWORD * minor, QWORD * build),                     \
      (major, minor, build))                                                                       \
    X(QuickUsbGetDllVersion, (QWORD * major, QWORD * minor, QWORD * build), (major, minor, build)) \
    X(QuickUsbStartFpgaConfiguration, (QHANDLE hDevice), (hDevice))                                \
    X(QuickUsbWriteFpgaData, (QHANDLE hDevice, QBYTE * data, QULONG length),                       \
      (hDevice, data, length))                                                                     \
    X(QuickUsbIsFpgaConfigured, (QHANDLE hDevice, QWORD * isConfigured), (hDevice, isConfigured))  \
    X(QuickUsbWriteData, (QHANDLE hDevice, QBYTE * data, QULONG length), (hDevice, data, length))  \
    X(QuickUsbReadData, (QHANDLE hDevice, QBYTE * data, QULONG * length), (hDevice, data, length)) \
    X(QuickUsbGetLastError, (QULONG * error), (error))                                             \
    X(QuickUsbWriteI2C, (QHANDLE hDevice, QWORD address, QBYTE * data, QWORD length),              \
      (hDevice, address, data, length))                                                            \
    X(QuickUsbReadI2C, (QHANDLE hDevice, QWORD address, QBYTE * data, QWORD * length),             \
      (hDevice, address, data, length))                                                            \
    X(QuickUsbSetRS232BaudRate, (QHANDLE hDevice, QULONG baudRate), (hDevice, baudRate))           \
    X(QuickUsbGetNumRS232, (QHANDLE hDevice, QBYTE portNum, QWORD * length),                       \
      (hDevice, portNum, length))                                                                  \
    X(QuickUsbFlushRS232, (QHANDLE hDevice, QBYTE portNum), (hDevice, portNum))                    \
    X(QuickUsbReadRS232, (QHANDLE hDevice, QBYTE portNum, QBYTE * data, QWORD * length),           \
      (hDevice, portNum, data, length))                                                            \
    X(QuickUsbWriteRS232, (QHANDLE hDevice, QBYTE portNum, QBYTE * data, QWORD length),            \
      (hDevice, portNum, data, length))

#ifdef __cplusplus
extern "C" {
#endif

#define QUICKUSB_DECLARE_CALL(name, params, args) QRETURN name params;
QUICKUSB_API_CALLS(QUICKUSB_DECLARE_CALL)
#undef QUICKUSB_DECLARE_CALL

#ifdef __cplusplus
}
#endif

#endif  // QUICKUSB_QUICKUSBAPI_H
