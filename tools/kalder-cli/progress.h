// Progress of a scan on standard error: a bar redrawn in place when that is a terminal, plain
// lines otherwise (a percentage when it changes; the number of traces, at most once a second,
// for a scan that runs until stopped).
#ifndef TOOLS_KALDER_CLI_PROGRESS_H
#define TOOLS_KALDER_CLI_PROGRESS_H

#include <QElapsedTimer>
#include <QString>

class progressDisplay {
public:
    // `bounded`: the scan ends by itself, so percentages mean something.
    progressDisplay(bool terminal, bool bounded);

    void setPercent(int percent);
    void setTraces(int traces);
    // A line of its own, clearing the bar first.
    void note(const QString& text);
    // Ends the bar's line.
    void finish();

private:
    void draw();

    bool terminal;
    bool bounded;
    int percent = -1;
    int traces = 0;
    int shownTraces = -1;
    bool barShown = false;
    QElapsedTimer sinceLine;
};

#endif  // TOOLS_KALDER_CLI_PROGRESS_H
