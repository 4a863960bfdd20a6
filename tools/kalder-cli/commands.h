// The commands of kalder-cli. Each takes the arguments after its name and returns the exit code.
#ifndef TOOLS_KALDER_CLI_COMMANDS_H
#define TOOLS_KALDER_CLI_COMMANDS_H

#include <QStringList>

int runInfo(const QStringList& args);
int runScan(const QStringList& args);
int runInspect(const QStringList& args);
int runExport(const QStringList& args);
int runRecover(const QStringList& args);

#endif  // TOOLS_KALDER_CLI_COMMANDS_H
