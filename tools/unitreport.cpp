#include "unitreport.h"

#include <cstdio>
#include <vector>

#include "tolmar2/TolmarCntrl.h"

bool printSystemDescription(TolmarCntrl& unit) {
    std::vector<char> text(TolmarCntrl::MIN_DESCRIPTION_SIZE);
    int size = static_cast<int>(text.size());
    if (!unit.getSystemDescription(text.data(), size)) {
        text.resize(static_cast<size_t>(size));  // the capacity the text needs
        if (!unit.getSystemDescription(text.data(), size))
            return false;
    }
    std::fwrite(text.data(), 1, static_cast<size_t>(size), stdout);
    return true;
}
