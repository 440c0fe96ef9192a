#include "SdlDialogRunner.h"

#include "Log.h"
#include "Utf8Conversion.h"

#include <SDL2/SDL.h>

#include <cmath>
#include <vector>

namespace kiv {

namespace {

// The DPI dialogs are laid out at: the display's, in steps the layout keeps sharp, else 96.
int DialogDpi(int display) {
  float dpi = 0;
  if (SDL_GetDisplayDPI(display, nullptr, &dpi, nullptr) != 0 || !(dpi >= 48 && dpi <= 480)) return 96;
  return static_cast<int>(std::nearbyint(dpi));
}

int DialogKey(SDL_Keycode key) {
  switch (key) {
  case SDLK_TAB:
    return kDialogKeyTab;
  case SDLK_RETURN:
  case SDLK_KP_ENTER:
    return kDialogKeyEnter;
  case SDLK_ESCAPE:
    return kDialogKeyEscape;
  case SDLK_SPACE:
    return kDialogKeySpace;
  case SDLK_BACKSPACE:
    return kDialogKeyBackspace;
  default:
    return 0;
  }
}

void Present(SDL_Window* window, const TDialog& dialog, int dpi) {
  const TRef<TBitmap> picture = dialog.Draw(dpi);
  SDL_Surface* target = SDL_GetWindowSurface(window);
  if (!target) return;
  SDL_Surface* source = SDL_CreateRGBSurfaceWithFormatFrom(picture->Row(0), picture->Width(), picture->Height(), 32,
                                                           static_cast<int>(picture->Stride()), SDL_PIXELFORMAT_ARGB8888);
  if (!source) return;
  SDL_BlitSurface(source, nullptr, target, nullptr);
  SDL_FreeSurface(source);
  SDL_UpdateWindowSurface(window);
}

} // namespace

int TSdlDialogRunner::Run(TDialog& dialog) {
  if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    LogLine(std::string("dialog: no display: ") + SDL_GetError());
    return TDialog::kCancelled;
  }
  const int display = owner_ ? std::max(0, SDL_GetWindowDisplayIndex(owner_)) : 0;
  const int dpi = DialogDpi(display);
  const TDialogRect client = dialog.ClientRect(dpi);
  const std::string title = Utf16ToUtf8(dialog.Title());
  SDL_Window* window = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED_DISPLAY(display),
                                        SDL_WINDOWPOS_CENTERED_DISPLAY(display), client.width, client.height,
                                        SDL_WINDOW_HIDDEN | SDL_WINDOW_ALWAYS_ON_TOP);
  if (!window) {
    LogLine(std::string("dialog: no window: ") + SDL_GetError());
    return TDialog::kCancelled;
  }
  // The first surface may make SDL replace the window by one it can draw with: while hidden, so that no
  // one sees, focuses or types into a window that is about to go (and the modal link is the new one's).
  SDL_GetWindowSurface(window);
  if (owner_) SDL_SetWindowModalFor(window, owner_);
  SDL_ShowWindow(window);
  SDL_RaiseWindow(window);
  const Uint32 id = SDL_GetWindowID(window);
  SDL_StartTextInput();
  Present(window, dialog, dpi);
  // Reports and requests for the window under the dialog: theirs to handle once it has gone.
  std::vector<SDL_Event> kept;
  while (!dialog.Ended()) {
    SDL_Event event;
    if (!SDL_WaitEventTimeout(&event, 100)) continue;
    if (event.type >= SDL_USEREVENT) {
      if (!foreign_ || !foreign_(event)) kept.push_back(event);
      continue;
    }
    switch (event.type) {
    case SDL_QUIT:
      kept.push_back(event);
      dialog.CloseBox();
      break;
    case SDL_WINDOWEVENT:
      if (event.window.windowID != id) break;
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) dialog.CloseBox();
      break;
    case SDL_KEYDOWN:
      if (event.key.windowID == id)
        if (const int key = DialogKey(event.key.keysym.sym))
          dialog.KeyDown(key, (event.key.keysym.mod & KMOD_SHIFT) != 0);
      break;
    case SDL_TEXTINPUT:
      if (event.text.windowID == id) dialog.TypeText(Utf8ToUtf16(event.text.text));
      break;
    case SDL_MOUSEBUTTONDOWN:
      if (event.button.windowID == id && event.button.button == SDL_BUTTON_LEFT)
        dialog.Click(event.button.x, event.button.y, dpi);
      break;
    default:
      break;
    }
    Present(window, dialog, dpi);
  }
  SDL_StopTextInput();
  SDL_DestroyWindow(window);
  for (SDL_Event& event : kept)
    SDL_PushEvent(&event);
  return dialog.Result();
}

} // namespace kiv
