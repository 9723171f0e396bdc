// The host's array type: it crosses the library boundary, so its resize,
// bounds and copy rules are part of the contract.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "orsa/Array.h"

namespace {

using orsa::Array;

template <class F>
std::string RangeErrorText(F f) {
  try {
    f();
  } catch (const std::out_of_range& e) {
    return e.what();
  }
  return "no exception";
}

TEST(OrsaArray, CountNHoldsNDefaultElementsAndZeroHoldsNoBlock) {
  Array<int> three(3);
  EXPECT_EQ(3u, three.size());
  EXPECT_EQ(3u, three.length());
  EXPECT_FALSE(three.empty());
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(0, three[i]);
  EXPECT_EQ(three.data() + 3, three.end());

  Array<int> none;
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(nullptr, none.data());
  EXPECT_EQ(none.begin(), none.end());
}

TEST(OrsaArray, ResizeLowersInPlaceGrowsAfreshAndZeroFrees) {
  Array<std::string> a(3);
  a[0] = "x";
  a[1] = "y";
  a[2] = "z";
  const std::string* block = a.data();

  a.resize(2);  // not above the count: same block, elements kept
  EXPECT_EQ(2u, a.size());
  EXPECT_EQ(block, a.data());
  EXPECT_EQ("x", a[0]);
  EXPECT_EQ("y", a[1]);

  a.resize(2);
  EXPECT_EQ("y", a.at(1));

  a.resize(4);  // larger: new block of default elements, old contents dropped
  EXPECT_EQ(4u, a.size());
  for (uint32_t i = 0; i < 4; ++i) EXPECT_EQ("", a[i]);

  a.resize(0);
  EXPECT_EQ(0u, a.size());
  EXPECT_EQ(nullptr, a.data());
  EXPECT_EQ("Array<>: index out of range", RangeErrorText([&] { a.at(0); }));
}

TEST(OrsaArray, BoundsTestedAccessThrowsTheRangeText) {
  Array<int> a(2);
  const Array<int>& c = a;
  Array<int> empty;
  const Array<int>& emptyConst = empty;
  const char* const kText = "Array<>: index out of range";
  EXPECT_EQ(kText, RangeErrorText([&] { a.at(2); }));
  EXPECT_EQ(kText, RangeErrorText([&] { c.at(0xFFFFFFFFu); }));
  EXPECT_EQ(kText, RangeErrorText([&] { empty.at(0); }));
  EXPECT_EQ(kText, RangeErrorText([&] { empty.front(); }));
  EXPECT_EQ(kText, RangeErrorText([&] { empty.back(); }));
  EXPECT_EQ(kText, RangeErrorText([&] { emptyConst.front(); }));
  EXPECT_EQ(kText, RangeErrorText([&] { emptyConst.back(); }));

  a[0] = 10;
  a[1] = 20;
  EXPECT_EQ(10, a.front());
  EXPECT_EQ(20, a.back());
  EXPECT_EQ(20, c.at(1));
  a.at(1) = 21;
  EXPECT_EQ(21, c.back());
}

TEST(OrsaArray, SwapExchangesBlocksAndCounts) {
  Array<int> a(1);
  a[0] = 5;
  Array<int> b(3);
  b.fill(9);
  const int* aBlock = a.data();
  const int* bBlock = b.data();
  a.swap(b);
  EXPECT_EQ(3u, a.size());
  EXPECT_EQ(bBlock, a.data());
  EXPECT_EQ(9, a[2]);
  EXPECT_EQ(1u, b.size());
  EXPECT_EQ(aBlock, b.data());
  EXPECT_EQ(5, b[0]);
}

TEST(OrsaArray, AssignCopiesEveryElementAndIgnoresItself) {
  Array<std::string> source(2);
  source[0] = "a";
  source[1] = "b";

  Array<std::string> target(5);
  target.assign(source);
  ASSERT_EQ(2u, target.size());
  EXPECT_EQ("a", target[0]);
  EXPECT_EQ("b", target[1]);
  EXPECT_NE(source.data(), target.data());
  source[0] = "changed";
  EXPECT_EQ("a", target[0]);  // a deep copy

  Array<std::string> other;
  Array<std::string>& returned = other.assignFrom(target);
  EXPECT_EQ(&other, &returned);
  EXPECT_EQ("b", other[1]);

  const std::string* block = target.data();
  target.assign(target);
  target.assignFrom(target);
  EXPECT_EQ(block, target.data());
  EXPECT_EQ(2u, target.size());
  EXPECT_EQ("a", target[0]);

  Array<std::string> copy(target);
  EXPECT_EQ("b", copy[1]);
  Array<std::string> assigned;
  assigned = copy;
  EXPECT_EQ("a", assigned[0]);

  Array<std::string> empty;
  assigned.assign(empty);
  EXPECT_TRUE(assigned.empty());
  EXPECT_EQ(nullptr, assigned.data());
}

TEST(OrsaArray, FillSetsEveryElement) {
  Array<unsigned char> bytes(4);
  bytes.fill(0xAB);
  for (const unsigned char* p = bytes.begin(); p != bytes.end(); ++p) EXPECT_EQ(0xAB, *p);
  Array<unsigned char> none;
  none.fill(1);  // nothing to fill, nothing to break
  EXPECT_TRUE(none.empty());
}

}  // namespace
