#pragma once
// Shows a dialog of our toolkit in a window of its own on top of the owner, until the dialog ends.

#include "Dialog.h"

#include <functional>

struct SDL_Window;
union SDL_Event;

namespace kiv {

class TSdlDialogRunner final : public TDialogRunner {
public:
  // Takes an event meant for someone else while the dialog runs; true when it was handled now.
  using TForeignEvent = std::function<bool(const SDL_Event&)>;

  // owner: the window the dialog belongs to (none before the main window exists). foreign: handles what
  // cannot wait for the dialog, such as work the engine's thread waits for.
  explicit TSdlDialogRunner(SDL_Window* owner = nullptr, TForeignEvent foreign = nullptr)
      : owner_(owner), foreign_(std::move(foreign)) {}
  // The dialog's result; TDialog::kCancelled when no window can be opened. A quit request and the user
  // events the dialog did not handle go back on the queue, in their order, when it ends.
  int Run(TDialog& dialog) override;

private:
  SDL_Window* owner_;
  TForeignEvent foreign_;
};

} // namespace kiv
