// The scan page's dialogs around saving: the one question when saved names are already taken
// in the output folder, and the summary at the end of every save with a button that opens the
// output folder.
#pragma once

#include <QString>

#include "browser/EntrySaver.h"

class QWidget;

namespace vindaru::app {

class UiMessageSink;

class SaveDialogs {
  public:
    static constexpr const char* kTakenQuestion =
        "Some files to save are already in the output folder (the first is \"%1\").\n"
        "Replace them, keep both (the new copies named \"name (2).ext\"), or skip them?";

    // Asked from the saving worker through `sink`; Keep Both when the page is closing.
    static EntrySaver::ExistingFiles askTaken(UiMessageSink& sink, const std::string& name);
    // The box itself (UI thread).
    static EntrySaver::ExistingFiles takenBox(QWidget* parent, const QString& name);
    // "Saving process done" with what was written, the files not read fully, and "Open Output
    // Folder" (UI thread).
    static void showSummary(QWidget* parent, const SaveSummary& summary);
};

} // namespace vindaru::app
