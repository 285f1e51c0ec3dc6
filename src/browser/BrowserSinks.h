// Where the scan page's engines report: the status line, the second status line (the file size
// while saving), the progress bar and message boxes.
#pragma once

#include "common/Sinks.h"

namespace vindaru {

struct BrowserSinks {
    StatusSink& status;
    StatusSink& secondStatus;
    ProgressSink& progress;
    MessageSink& messages;
};

} // namespace vindaru
