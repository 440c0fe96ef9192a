// A dialog's own event loop on SDL's headless video driver: what the window under it is sent meanwhile
// (engine reports, a quit request) waits for the dialog to end, and main-thread work the engine's thread
// may be waiting for runs at once.

#include "sdl/SdlDialogRunner.h"

#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace kiv {
namespace {

class SdlDialogRunnerTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    ASSERT_EQ(SDL_InitSubSystem(SDL_INIT_VIDEO), 0) << SDL_GetError();
    report_ = SDL_RegisterEvents(2);
    job_ = report_ + 1;
  }
  void TearDown() override { SDL_QuitSubSystem(SDL_INIT_VIDEO); }

  void Push(Uint32 type, int code) {
    SDL_Event event{};
    event.type = type;
    event.user.code = code;
    ASSERT_EQ(SDL_PushEvent(&event), 1);
  }

  Uint32 report_ = 0, job_ = 0;
};

TEST_F(SdlDialogRunnerTest, OthersEventsWaitForTheDialogAndMainThreadWorkRunsAtOnce) {
  // The quit request ends the dialog as its close box would.
  Push(report_, 1);
  Push(job_, 2);
  Push(report_, 3);
  Push(SDL_QUIT, 0);
  std::vector<int> jobsRun;
  TSdlDialogRunner runner(nullptr, [&](const SDL_Event& event) {
    if (event.type != job_) return false;
    jobsRun.push_back(event.user.code);
    return true;
  });
  TDialog dialog(u"Test", 200, 100);
  dialog.Add<TDialogStatic>(TDialogRect{10, 10, 100, 20}, u"Text");
  EXPECT_EQ(runner.Run(dialog), TDialog::kCancelled);
  EXPECT_EQ(jobsRun, std::vector<int>{2});

  std::vector<std::pair<Uint32, int>> after;
  SDL_PumpEvents();
  SDL_Event event;
  while (SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1)
    if (event.type == SDL_QUIT || event.type >= SDL_USEREVENT)
      after.emplace_back(event.type, event.type >= SDL_USEREVENT ? event.user.code : 0);
  const std::vector<std::pair<Uint32, int>> expected{{report_, 1}, {report_, 3}, {SDL_QUIT, 0}};
  EXPECT_EQ(after, expected);
}

} // namespace
} // namespace kiv
