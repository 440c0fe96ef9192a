#include "Assert.h"
#include "ObjectBase.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

std::vector<std::string> gReported;
void CollectSink(const std::string& text) {
  gReported.push_back(text);
}

class ObjectsTest : public ::testing::Test {
protected:
  void SetUp() override {
    gReported.clear();
    previous_ = SetAssertionSink(&CollectSink);
  }
  void TearDown() override { SetAssertionSink(previous_); }
  TAssertionSink previous_ = nullptr;
};

class TCounted : public TRefObj {
public:
  explicit TCounted(int* freed) : freed_(freed) {}
  ~TCounted() override { ++*freed_; }

private:
  int* freed_;
};

class TFailingDispose : public TObj {
protected:
  void Dispose() override { throw std::runtime_error("boom"); }
};

class TFailingRefDispose : public TRefObj {
public:
  explicit TFailingRefDispose(int* freed) : freed_(freed) {}
  ~TFailingRefDispose() override { ++*freed_; }

protected:
  void Dispose() override { throw std::runtime_error("boom"); }

private:
  int* freed_;
};

TEST_F(ObjectsTest, AssertionTextNamesMessageUnitAndLine) {
  EXPECT_EQ(AssertionText("Assertion failure", "/src/store/IniDocument.cpp", 42),
            "Asseertion with message: 'Assertion failure' (IniDocument, line: 42)");
  try {
    RY_ASSERT(1 + 1 == 3);
    FAIL();
  } catch (const EAssertion& e) {
    EXPECT_EQ(
        std::string(e.what()).rfind("Asseertion with message: 'Assertion failure' (ObjectsTest, line: ", 0),
        0u);
  }
  ASSERT_EQ(gReported.size(), 1u);
}

TEST_F(ObjectsTest, RefObjFreesItselfAtZero) {
  int freed = 0;
  {
    auto a = TRef<TCounted>::Make(&freed);
    EXPECT_EQ(a->RefCount(), 1);
    TRef<TCounted> b = a;
    EXPECT_EQ(a->RefCount(), 2);
  }
  EXPECT_EQ(freed, 1);
  EXPECT_TRUE(gReported.empty());
}

TEST_F(ObjectsTest, NilReferenceCallsAreAssertions) {
  EXPECT_THROW(TRefObj::AddRef(nullptr), EAssertion);
  EXPECT_THROW(TRefObj::Release(nullptr), EAssertion);
  ASSERT_EQ(gReported.size(), 2u);
  EXPECT_NE(gReported[0].find("(nil)._AddRef call"), std::string::npos);
  EXPECT_NE(gReported[1].find("(nil)._Release call"), std::string::npos);
}

TEST_F(ObjectsTest, FailingCleanUpBecomesAnAssertion) {
  try {
    TObj::Free(new TFailingDispose);
    FAIL();
  } catch (const EAssertion& e) {
    EXPECT_NE(std::string(e.what()).find("'Unhandled Exception at \"TFailingDispose\" Disposing'"),
              std::string::npos);
  }
}

TEST_F(ObjectsTest, FreeingAHeldRefObjectNamesTheRealClassAndKeepsIt) {
  int freed = 0;
  auto held = TRef<TCounted>::Make(&freed);
  const std::string expected = "Disposing the Non Zerro Ref Object, possible the \"TCounted\"";
  try {
    TObj::Free(held.get());
    FAIL();
  } catch (const EAssertion& e) {
    EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
  }
  // Still alive for the holder, freed normally afterwards without a second report.
  EXPECT_EQ(freed, 0);
  EXPECT_EQ(held->RefCount(), 1);
  held.reset();
  EXPECT_EQ(freed, 1);
  ASSERT_EQ(gReported.size(), 1u);
  EXPECT_NE(gReported[0].find(expected), std::string::npos);
}

TEST_F(ObjectsTest, OwningHolderReportsButDoesNotThrow) {
  int freed = 0;
  auto owned = MakeOwned<TCounted>(&freed);
  TCounted* raw = owned.get();
  owned.reset(); // the destructor path: reported, not thrown
  ASSERT_EQ(gReported.size(), 1u);
  EXPECT_NE(gReported[0].find("\"TCounted\""), std::string::npos);
  EXPECT_EQ(freed, 0);
  raw->_Release();
  EXPECT_EQ(freed, 1);
}

// A holder going out of scope (or unwinding) drops the last reference from a destructor: the failed
// clean-up is reported, never thrown out of it.
TEST_F(ObjectsTest, LastReferenceDroppedByAHolderReportsAFailedCleanUp) {
  int freed = 0;
  {
    auto held = TRef<TFailingRefDispose>::Make(&freed);
    TRef<TFailingRefDispose> copy = held;
  }
  EXPECT_EQ(freed, 1);
  ASSERT_EQ(gReported.size(), 1u);
  EXPECT_NE(gReported[0].find("\"TFailingRefDispose\" Disposing"), std::string::npos);

  // An explicit reset still raises: the caller can handle it there.
  auto held = TRef<TFailingRefDispose>::Make(&freed);
  EXPECT_THROW(held.reset(), EAssertion);
  EXPECT_EQ(freed, 2);
}

TEST_F(ObjectsTest, CommonExceptionNamesItsClass) {
  EXPECT_STREQ(TCommonException().what(), "Brask Exception: \"TCommonException\"");
}

} // namespace
} // namespace kiv
