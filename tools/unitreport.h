// Printing what a connected unit tells about itself, shared by the command-line tools.
#ifndef TOOLS_UNITREPORT_H
#define TOOLS_UNITREPORT_H

class TolmarCntrl;

// Writes the unit's system description to standard output (also when it is not connected: the
// description then says so). False when the library gave no text.
bool printSystemDescription(TolmarCntrl& unit);

#endif  // TOOLS_UNITREPORT_H
