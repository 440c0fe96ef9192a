#pragma once
// What the engine tests share: shows written in the test, an engine that only handles its queue and keeps
// the latest slide list, and slide objects that tell whether their slide is still alive.

#include "../timeline/TimelineTestUtil.h"

#include "CustomEngine.h"
#include "ObjectFactory.h"
#include "SlideLoader.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace kiv::test {

// A show of `count` slides of `slideMs` each, without transitions, laid out at 4:3. Each slide holds one
// probe object.
inline std::string ShowText(int count, int slideMs, const std::string& extraMain = "") {
  std::string text = "[main]\r\nMinorVersion=21\r\nopt_scr_width=64\r\nopt_scr_height=48\r\nopt_slidescount=" +
                     std::to_string(count) + "\r\n" + extraMain;
  for (int i = 1; i <= count; ++i)
    text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * slideMs) + "\r\n";
  for (int i = 1; i <= count; ++i)
    text += "[Slide" + std::to_string(i) + "]\r\nobject Probe: probe\r\nend\r\n";
  return text;
}

inline std::unique_ptr<TKivSource> MakeSource(const std::string& text) {
  return std::make_unique<TKivSource>(PlainAccessor(), Document(text));
}

// Probe objects alive now, by address. The factory of an object kind is a plain function, so the set is
// one per test program.
class TProbeObject : public TKivObject {
public:
  TProbeObject(TKivObject* parent, std::u16string guid) : TKivObject(parent, std::move(guid)) {
    std::lock_guard lock(Mutex());
    Alive().insert(this);
  }
  ~TProbeObject() override {
    std::lock_guard lock(Mutex());
    Alive().erase(this);
  }
  static bool IsAlive(const void* probe) {
    std::lock_guard lock(Mutex());
    return Alive().count(probe) != 0;
  }
  static void Register() {
    RegisterKivObjectKind(u"probe", [](TKivObject* parent, std::u16string guid) -> TOwned<TKivObject> {
      return MakeOwned<TProbeObject>(parent, std::move(guid));
    });
  }

private:
  static std::mutex& Mutex() {
    static std::mutex mutex;
    return mutex;
  }
  static std::set<const void*>& Alive() {
    static std::set<const void*> alive;
    return alive;
  }
};

// The probe of a container's slide; nullptr for a slide without one (the time before the show).
inline const void* ProbeOf(const TDrawContainer& container) {
  const TKivSlide* slide = container.Slide();
  return slide && slide->ChildCount() > 0 ? &slide->Child(0) : nullptr;
}

// An engine that handles its queue each step and keeps the latest slide list, as the real one does.
class TTestEngine : public TCustomKivEngine {
public:
  TTestEngine(TWorkerHost& host, TKivApplication& application, int64_t periodMs = 1)
      : TCustomKivEngine(host, application, "engine", periodMs, kOrderEngine) {}

  using TCustomKivEngine::StopWorker;

  struct THeld {
    TDrawContainer* container;
    int32_t position;
    const void* probe;
  };

  // Engine thread. Runs before the queue is handled.
  std::function<void()> onStep;
  // Engine thread, with the list just taken.
  std::function<void(const std::vector<THeld>&)> onSlideList;
  std::atomic<int> lists{0};
  std::atomic<int> steps{0};
  // Set when a slide of a held list was freed while the engine held it.
  std::atomic<bool> heldDeadSlide{false};

  // Engine thread (or the test, while the engine does not run).
  const std::vector<THeld>& Held() const { return held_; }
  std::vector<int32_t> HeldPositions() const {
    std::vector<int32_t> positions;
    for (const THeld& h : held_)
      positions.push_back(h.position);
    return positions;
  }
  // Checks the held list without touching its containers: only the probes' addresses are compared.
  bool HeldAreAlive() const {
    for (const THeld& h : held_)
      if (h.probe && !TProbeObject::IsAlive(h.probe)) return false;
    return true;
  }

protected:
  void Step() override {
    ++steps;
    if (!HeldAreAlive()) heldDeadSlide = true;
    if (onStep) onStep();
    Events().Process();
  }
  void HandleEvent(int number, TObj* data) override {
    if (number != kEvSlideList) return;
    if (!HeldAreAlive()) heldDeadSlide = true;
    const auto& list = dynamic_cast<const TSlideData&>(*data);
    held_.clear();
    for (int i = 0; i < list.Count(); ++i) {
      TDrawContainer* c = list.Slide(i);
      held_.push_back({c, c->Position(), ProbeOf(*c)});
    }
    ++lists;
    if (onSlideList) onSlideList(held_);
  }

private:
  std::vector<THeld> held_; // engine thread
};

} // namespace kiv::test
