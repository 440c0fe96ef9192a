#pragma once
// The password step of opening a show whose author set one: a small dialog asks for it, and the show
// opens only when it ends with OK and the text equals the show's password exactly.

#include "Dialog.h"

namespace kiv {

class TIniFile;

class TKivPasswordDialog final : public TDialog {
public:
  static constexpr int kOk = 1;

  // Captions from the project's main section.
  explicit TKivPasswordDialog(const TIniFile& project);
  TDialogEdit& Edit() noexcept { return *edit_; }

private:
  TDialogEdit* edit_; // one of the items
};

// True when the show may be opened: at once without "opt_usepass", else when the runner's dialog ends
// with OK and the password matches. A failure inside refuses the show; the typed text is never logged.
bool CheckPassword(TDialogRunner& runner, const TIniFile& project);

} // namespace kiv
