// Library-wide logging settings of the controller class; the log itself is MsgLogger.
#include "tolmar2/MsgLogger.h"
#include "tolmar2/TolmarCntrl.h"

void TolmarCntrl::setLogging(int mode) {
    MsgLogger::setMode(mode);
}

const char* TolmarCntrl::getLogFileName() {
    return MsgLogger::fileName();
}
