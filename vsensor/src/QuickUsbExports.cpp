// The QuickUSB C calls, served by the emulated module.
#include "Emulation.h"
#include "quickusb/QuickUsbApi.h"

using vsensor::detail::Emulation;

extern "C" {

QRETURN QuickUsbFindModules(char* nameList, QULONG length) {
    return Emulation::instance().findModules(nameList, length);
}
QRETURN QuickUsbOpen(QHANDLE* hDevice, char* devName) {
    return Emulation::instance().open(hDevice, devName);
}
QRETURN QuickUsbClose(QHANDLE hDevice) {
    return Emulation::instance().close(hDevice);
}
QRETURN QuickUsbGetStringDescriptor(QHANDLE hDevice, QBYTE index, char* buffer, QWORD length) {
    return Emulation::instance().getStringDescriptor(hDevice, index, buffer, length);
}
QRETURN QuickUsbReadSetting(QHANDLE hDevice, QWORD address, QWORD* value) {
    return Emulation::instance().readSetting(hDevice, address, value);
}
QRETURN QuickUsbWriteSetting(QHANDLE hDevice, QWORD address, QWORD value) {
    return Emulation::instance().writeSetting(hDevice, address, value);
}
QRETURN QuickUsbGetDriverVersion(QWORD* major, QWORD* minor, QWORD* build) {
    return Emulation::instance().getDriverVersion(major, minor, build);
}
QRETURN QuickUsbGetDllVersion(QWORD* major, QWORD* minor, QWORD* build) {
    return Emulation::instance().getDllVersion(major, minor, build);
}
QRETURN QuickUsbStartFpgaConfiguration(QHANDLE hDevice) {
    return Emulation::instance().startFpgaConfiguration(hDevice);
}
QRETURN QuickUsbWriteFpgaData(QHANDLE hDevice, QBYTE* data, QULONG length) {
    return Emulation::instance().writeFpgaData(hDevice, data, length);
}
QRETURN QuickUsbIsFpgaConfigured(QHANDLE hDevice, QWORD* isConfigured) {
    return Emulation::instance().isFpgaConfigured(hDevice, isConfigured);
}
QRETURN QuickUsbWriteData(QHANDLE hDevice, QBYTE* data, QULONG length) {
    return Emulation::instance().writeData(hDevice, data, length);
}
QRETURN QuickUsbReadData(QHANDLE hDevice, QBYTE* data, QULONG* length) {
    return Emulation::instance().readData(hDevice, data, length);
}
QRETURN QuickUsbGetLastError(QULONG* error) {
    return Emulation::instance().getLastError(error);
}
QRETURN QuickUsbWriteI2C(QHANDLE hDevice, QWORD address, QBYTE* data, QWORD length) {
    return Emulation::instance().writeI2c(hDevice, address, data, length);
}
QRETURN QuickUsbReadI2C(QHANDLE hDevice, QWORD address, QBYTE* data, QWORD* length) {
    return Emulation::instance().readI2c(hDevice, address, data, length);
}
QRETURN QuickUsbSetRS232BaudRate(QHANDLE hDevice, QULONG baudRate) {
    return Emulation::instance().setRs232BaudRate(hDevice, baudRate);
}
QRETURN QuickUsbGetNumRS232(QHANDLE hDevice, QBYTE portNum, QWORD* length) {
    return Emulation::instance().getNumRs232(hDevice, portNum, length);
}
QRETURN QuickUsbFlushRS232(QHANDLE hDevice, QBYTE portNum) {
    return Emulation::instance().flushRs232(hDevice, portNum);
}
QRETURN QuickUsbReadRS232(QHANDLE hDevice, QBYTE portNum, QBYTE* data, QWORD* length) {
    return Emulation::instance().readRs232(hDevice, portNum, data, length);
}
QRETURN QuickUsbWriteRS232(QHANDLE hDevice, QBYTE portNum, QBYTE* data, QWORD length) {
    return Emulation::instance().writeRs232(hDevice, portNum, data, length);
}

}  // extern "C"
