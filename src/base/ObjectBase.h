#pragma once
// Base objects. TObj gives every class a name and a clean-up step that runs before it is freed;
// TRefObj adds the intrusive reference count through which shared objects are held.

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>

namespace kiv {

class TObj {
public:
  TObj() = default;
  TObj(const TObj&) = delete;
  TObj& operator=(const TObj&) = delete;
  virtual ~TObj() = default;

  // The class name without namespace, e.g. "TIniFile".
  std::string ClassName() const;

  // Runs BeforeDestruction and Dispose, then frees the object. An exception from Dispose becomes the
  // assertion 'Unhandled Exception at "TName" Disposing' (raised after the object is freed). An exception
  // from BeforeDestruction leaves the object alive and propagates.
  static void Free(TObj* obj);

protected:
  // Last check before the object goes, while the full class is still alive (so ClassName is the real one).
  // Raising here refuses the destruction.
  virtual void BeforeDestruction() {}
  // Clean-up that may fail; runs before destruction when the object is freed through Free.
  virtual void Dispose() {}
};

// Owning holders free from their destructors, which must not throw: a failed clean-up has already been
// reported through the assertion sink, so the deleter drops the exception.
struct TObjDeleter {
  void operator()(TObj* obj) const noexcept;
};

// Owning pointer that frees through TObj::Free.
template <class T> using TOwned = std::unique_ptr<T, TObjDeleter>;

template <class T, class... Args> TOwned<T> MakeOwned(Args&&... args) {
  return TOwned<T>(new T(std::forward<Args>(args)...));
}

// Shared object: count 1 after construction (the creator's reference); frees itself at 0.
class TRefObj : public TObj {
public:
  TRefObj() = default;
  ~TRefObj() override;

  int _AddRef() noexcept { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
  int _Release();
  int RefCount() const noexcept { return count_.load(std::memory_order_acquire); }

  // Null-checked forms: "(nil)._AddRef call" / "(nil)._Release call" on nothing.
  static void AddRef(TRefObj* obj);
  static void Release(TRefObj* obj);
  // _Release for holders' destructors: a failed clean-up of the last reference has been reported through
  // the assertion sink already, and is not thrown out of them.
  static void ReleaseQuietly(TRefObj* obj) noexcept;

  // 'Incorrect RefObject: "TName"' when a freshly built object no longer holds its creator's reference.
  void CheckConstructed() const;

protected:
  // Freeing a shared object that someone still holds would leave them dangling: refuse with
  // 'Disposing the Non Zerro Ref Object, possible the "TName" ...' and keep the object.
  void BeforeDestruction() override;

private:
  std::atomic<int> count_{1};
};

// Intrusive pointer over a TRefObj. Adopt takes over the creator's reference; copies add one.
template <class T> class TRef {
public:
  TRef() = default;
  TRef(std::nullptr_t) {}
  static TRef Adopt(T* obj) {
    if (obj) obj->CheckConstructed();
    TRef ref;
    ref.obj_ = obj;
    return ref;
  }
  static TRef Share(T* obj) {
    if (obj) obj->_AddRef();
    return Adopt(obj);
  }
  template <class... Args> static TRef Make(Args&&... args) {
    return Adopt(new T(std::forward<Args>(args)...));
  }

  TRef(const TRef& other) : obj_(other.obj_) {
    if (obj_) obj_->_AddRef();
  }
  TRef(TRef&& other) noexcept : obj_(std::exchange(other.obj_, nullptr)) {}
  template <class U> TRef(const TRef<U>& other) : obj_(other.get()) {
    if (obj_) obj_->_AddRef();
  }
  TRef& operator=(TRef other) noexcept {
    std::swap(obj_, other.obj_);
    return *this;
  }
  ~TRef() {
    if (T* obj = std::exchange(obj_, nullptr)) TRefObj::ReleaseQuietly(obj);
  }

  // Raises what freeing the last reference raises; the destructor reports it instead.
  void reset() {
    if (T* obj = std::exchange(obj_, nullptr)) obj->_Release();
  }
  T* get() const noexcept { return obj_; }
  T* operator->() const noexcept { return obj_; }
  T& operator*() const noexcept { return *obj_; }
  explicit operator bool() const noexcept { return obj_ != nullptr; }

private:
  T* obj_ = nullptr;
};

} // namespace kiv
