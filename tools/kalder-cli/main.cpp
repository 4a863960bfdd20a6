// kalder-cli: the measurement without a display. Runs scans on the program's own controllers,
// inspects kdf data files and exports them with the program's writers.
#include <QCoreApplication>
#include <cstdio>

#include "cli.h"
#include "commands.h"
#include "tolmar2/TolmarCntrl.h"

namespace {

const char USAGE[] =
    "Usage: kalder-cli <command> [options]\n"
    "\n"
    "Commands:\n"
    "  info                  connect to the sensor unit and print its description and record\n"
    "  scan --out FILE.kdf   run one scan and save it (see kalder-cli scan --help)\n"
    "  inspect FILE.kdf      print what a data file holds\n"
    "  export FILE.kdf       write CSV (--csv OUT), MAT (--mat OUT) or HDF5 (--h5 OUT) exports\n"
    "                        of a data file\n"
    "  recover --list        list measurements whose run never ended; --open RECOVERY.kdj\n"
    "                        --out FILE.kdf saves one as an ordinary data file\n"
    "\n"
    "The USB link is chosen by TOLMAR_LINK (vendor, virtual or auto). Exit codes: 0 success,\n"
    "1 usage error, 2 no sensor or connection failed, 3 scan failed, 4 file unreadable or\n"
    "unwritable.\n";

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The settings store the program keeps, from which the idle voltages are read.
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Kalder"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KALDER_VERSION));
    // Quiet until a command says otherwise: the library's log and the diagnostics of the data
    // code are for --verbose.
    cli::setVerbose(false);
    TolmarCntrl::setLogging(0);  // no log file in the working directory

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    if (command == QLatin1String("info")) {
        return runInfo(args);
    }
    if (command == QLatin1String("scan")) {
        return runScan(args);
    }
    if (command == QLatin1String("inspect")) {
        return runInspect(args);
    }
    if (command == QLatin1String("export")) {
        return runExport(args);
    }
    if (command == QLatin1String("recover")) {
        return runRecover(args);
    }
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        std::fputs(USAGE, stdout);
        return cli::Success;
    }
    if (command == QLatin1String("--version")) {
        std::printf("kalder-cli %s\n", KALDER_VERSION);
        return cli::Success;
    }
    if (command.isEmpty()) {
        return cli::report(
            {cli::UsageError, QStringLiteral("no command given (see kalder-cli --help)")});
    }
    return cli::report(
        {cli::UsageError,
         QStringLiteral("unknown command \"%1\" (see kalder-cli --help)").arg(command)});
}
