#pragma once
// kivviewer -export: the show played by the real engine, slide loader and music on the virtual host with
// the offline sound device, a frame drawn offscreen every 1000/N ms of show time and encoded with the
// sound the device mixed meanwhile. Picture and sound are functions of one clock, so they cannot drift.

#include "DeviceLayer.h"
#include "MediaEncoder.h"

#include <string>

namespace kiv {

class TKivShowLocator;

struct TExportOptions {
  std::string output;
  TExportContainer container = TExportContainer::Matroska;
  TSize size; // none: the show's design size
  int fps = 30;
  double from = 0;      // ms
  double to = -1;       // ms; negative: one pass of the show
  bool progress = true; // a progress bar on stderr when it is a terminal
};

// Writes the export beside the output and renames it into place; prints the "exported:" line. Failures
// print one line to stderr, leave nothing behind and answer 1.
int ExportShow(TKivShowLocator& locator, const TExportOptions& options);

} // namespace kiv
