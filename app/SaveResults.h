// File > "Save Results As...": every row of the result list written to a file the user picks,
// as result lines, CSV or JSON Lines (ResultFormats.h), with progress and Stop for a long list.
#pragma once

#include <QString>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "ResultFormats.h"

class QWidget;

namespace vorn {

class ResultListModel;

// Writes every row (shown or pending) to path through a temporary file beside it, renamed
// over it once whole: a failure or a stop never leaves part of a file under the name, and an
// existing file keeps its permissions. goOn is asked every few thousand rows with the rows
// written so far; false stops. Returns false when stopped; throws with the system's message
// when the file cannot be written.
bool WriteResults(const ResultListModel& model, const std::string& path, ResultFormat format,
                  const std::function<bool(size_t)>& goOn = {});

// The format a file name asks for by its extension (.csv, .jsonl or .json), else fallback.
ResultFormat FormatForName(const std::string& path, ResultFormat fallback);

// Asks for the file (the chooser's filter gives the format) and writes it, showing progress
// with a Stop button while a long list is written.
void SaveResultsAs(QWidget* parent, const ResultListModel& model);

// Tests replace the file dialog: it returns the chosen path and format, or nothing when the
// user cancels. An empty function restores the dialog; returns the one in place.
struct SaveTarget {
  std::string path;
  ResultFormat format = ResultFormat::Lines;
};
using SaveTargetChooser = std::function<std::optional<SaveTarget>(QWidget* parent)>;
SaveTargetChooser SetSaveTargetChooser(SaveTargetChooser chooser);

}  // namespace vorn
