#include <gtest/gtest.h>
#include "platform/win32.h"

#include <cstring>
#include <string>

#include "foundation/Memdiag.h"
#include "foundation/Tstring.h"

namespace {

typedef TOdnomernoeMnogestvoElementov<char> NarrowArray;
typedef TOdnomernoeMnogestvoElementov<WCHAR> WideArray;

std::string Text(const TAnsiString& s) { return s.Data() ? std::string(s.Data(), s.Length()) : std::string(); }

uint32_t References(const TAnsiString& s) { return s.SharedRecord() ? s.SharedRecord()->references : 0; }

// The buffer grows in steps of 200 elements, zero-filled, and shrinks only below half its
// capacity; anchored at the end, the tail moves with it. Contents survive every change.
TEST(Array, GrowsAndShrinksInStepsKeepingContents) {
  NarrowArray a(200);
  ASSERT_TRUE(a.Resize(200, false, false));
  for (uint32_t i = 0; i < 200; ++i) ASSERT_EQ(a.data[i], 0) << i;
  for (uint32_t i = 0; i < 200; ++i) a.data[i] = static_cast<char>(i);
  ASSERT_TRUE(a.Resize(1000, false, false));
  EXPECT_EQ(a.capacity, 1000u);
  EXPECT_EQ(a.data[200], 0);
  char* big = a.data;
  ASSERT_TRUE(a.Resize(499, false, false));
  EXPECT_EQ(a.data, big);
  ASSERT_TRUE(a.Resize(300, false, false));
  EXPECT_EQ(a.capacity, 400u);
  for (uint32_t i = 0; i < 300; ++i) ASSERT_EQ(a.data[i], static_cast<char>(i < 200 ? i : 0));
  for (uint32_t i = 200; i < 300; ++i) a.data[i] = static_cast<char>(i);
  ASSERT_TRUE(a.Resize(302, true, false));
  EXPECT_EQ(0, std::memcmp(a.data + 2, "\0\1\2", 3));
  ASSERT_TRUE(a.Resize(2, true, false));
  EXPECT_EQ(0, std::memcmp(a.data, "\x2a\x2b", 2));  // the last two of 300
  char* kept = a.data;
  ASSERT_TRUE(a.Resize(1, false, true));  // asked not to shrink
  EXPECT_EQ(a.data, kept);
  ASSERT_TRUE(a.Resize(0, false, false));
  EXPECT_EQ(a.data, nullptr);
  EXPECT_EQ(a.capacity, 0u);
}

TEST(Array, WideBufferOfTwoByteElementsRefusesTooManyAndKeepsEverything) {
  WideArray w(200);
  ASSERT_TRUE(w.Resize(3, false, false));
  uint32_t size = 0, elementSize = 0;
  ASSERT_TRUE(MemoryBlockInfo(w.data, size, elementSize));
  EXPECT_EQ(size, 400u);
  EXPECT_EQ(elementSize, 2u);
  w.data[0] = u'q';
  // Beyond MaxElements, or (on a machine with more than 8 GiB) beyond what 32-bit sizes hold.
  const uint32_t tooMany = w.MaxElements() < 0xFFFFFFFFu ? w.MaxElements() + 1 : 0xFFFFFFFFu;
  EXPECT_FALSE(w.Resize(tooMany, false, false));
  EXPECT_EQ(w.length, 3u);
  EXPECT_EQ(w.capacity, 200u);
  EXPECT_EQ(w.data[0], u'q');
}

TEST(Array, NarrowingKeepsLowBytesAndWideningExtendsWithZero) {
  WideArray w(200), widened(200);
  NarrowArray n(200);
  ASSERT_TRUE(w.Resize(3, false, false));
  w.data[0] = 0x0041;
  w.data[1] = 0x0416;
  ASSERT_TRUE(CopyNarrowed(n, w));
  ASSERT_EQ(n.length, 3u);
  EXPECT_EQ(0, std::memcmp(n.data, "\x41\x16", 3));
  n.data[0] = static_cast<char>(0xC0);
  ASSERT_TRUE(CopyWidened(widened, n));
  ASSERT_EQ(widened.length, 3u);
  EXPECT_EQ(widened.data[0], 0x00C0);
  EXPECT_EQ(widened.data[1], 0x0016);
}

// An empty text is the null handle; a text is its bytes with a terminating zero.
TEST(AnsiString, EmptyTextsAreTheNullHandle) {
  for (TAnsiString empty : {TAnsiString(""), TAnsiString(static_cast<const char*>(nullptr)), TAnsiString('\0')}) {
    EXPECT_EQ(empty.SharedRecord(), nullptr);
    EXPECT_EQ(empty.Length(), 0u);
    EXPECT_EQ(empty.CStr(), nullptr);
  }
  TAnsiString abc("abc");
  EXPECT_EQ(References(abc), 1u);
  EXPECT_EQ(abc.Length(), 3u);
  EXPECT_STREQ(abc.CStr(), "abc");
}

TEST(AnsiString, CopyOnWriteWithReferenceCounts) {
  TAnsiString original("shared");
  TAnsiString first(original), second = original;
  EXPECT_EQ(References(original), 3u);

  first.Insert(TAnsiString("!"), 7);
  EXPECT_EQ(Text(first), "shared!");
  EXPECT_NE(first.SharedRecord(), original.SharedRecord());
  EXPECT_EQ(References(first), 1u);
  EXPECT_EQ(References(original), 2u);
  EXPECT_EQ(Text(original), "shared");
  EXPECT_EQ(Text(second), "shared");

  // CStr on a shared handle copies too.
  char* writable = second.CStr();
  writable[0] = 'S';
  EXPECT_EQ(Text(second), "Shared");
  EXPECT_EQ(Text(original), "shared");
  EXPECT_EQ(References(original), 1u);

  second = original;
  const TAnsiString& same = second;
  second = same;  // assigning a string to itself keeps its one reference
  EXPECT_EQ(References(original), 2u);
  second.Assign("");
  EXPECT_EQ(second.SharedRecord(), nullptr);
  EXPECT_EQ(References(original), 1u);
}

TEST(AnsiString, AssignFromItsOwnBuffer) {
  TAnsiString s("prefix-tail");
  s.Assign(s.Data() + 7);
  EXPECT_EQ(Text(s), "tail");
}

// Positions count from 1; a position or count outside the text changes nothing, and an emptied
// text is the null handle.
TEST(AnsiString, InsertEraseAndSubstringByPosition) {
  struct TCase {
    const char* text;
    char operation;  // i: insert `other` at `position`; e: erase `count` from `position`; s: substring
    const char* other;
    int32_t position, count;
    const char* expected;  // nullptr: the null handle
  } const cases[] = {
      {"hello", 'i', " world", 6, 0, "hello world"}, {"hello", 'i', "X", 1, 0, "Xhello"},
      {"hello", 'i', "--", 3, 0, "he--llo"},        {"hello", 'i', "X", 0, 0, "hello"},
      {"hello", 'i', "X", 7, 0, "hello"},           {"hello", 'i', "", 2, 0, "hello"},
      {"", 'i', "abc", 2, 0, nullptr},              {"", 'i', "abc", 1, 0, "abc"},
      {"abcdef", 'e', "", 2, 3, "aef"},             {"abcdef", 'e', "", 1, 6, nullptr},
      {"abcdef", 'e', "", 5, 3, "abcdef"},          {"abcdef", 'e', "", 0, 1, "abcdef"},
      {"abcdef", 'e', "", 2, 0, "abcdef"},          {"abcdef", 'e', "", 2, -1, "abcdef"},
      {"abcdef", 'e', "", 6, 1, "abcde"},           {"abcdef", 's', "", 2, 3, "bcd"},
      {"abcdef", 's', "", 4, 3, "def"},             {"abcdef", 's', "", 4, 4, nullptr},
      {"abcdef", 's', "", 0, 2, nullptr},           {"abcdef", 's', "", 1, 0, nullptr},
      {"", 's', "", 1, 1, nullptr},
  };
  for (const TCase& c : cases) {
    TAnsiString text(c.text);
    TAnsiString result;
    if (c.operation == 'i')
      result = text.Insert(TAnsiString(c.other), c.position);
    else if (c.operation == 'e')
      result = text.Erase(c.position, c.count);
    else
      result = Substring(text, c.position, c.count);
    if (c.expected == nullptr)
      EXPECT_EQ(nullptr, result.SharedRecord()) << c.text << " " << c.operation << c.position;
    else
      EXPECT_EQ(c.expected, Text(result)) << c.text << " " << c.operation << c.position;
  }
  // An insert into the null handle shares the inserted record; an insert of itself doubles it.
  TAnsiString source("abc"), target;
  target.Insert(source, 1);
  EXPECT_EQ(target.SharedRecord(), source.SharedRecord());
  TAnsiString self("ab");
  self.Insert(self, 2);
  EXPECT_EQ(Text(self), "aabb");
}

TEST(AnsiString, InsertAcrossAStepBoundaryKeepsTheText) {
  std::string expected(190, 'z');
  TAnsiString s(expected.c_str());
  s.Insert(TAnsiString("0123456789abcdef"), 5);
  EXPECT_EQ(Text(s), expected.insert(4, "0123456789abcdef"));
}

// Concatenation shares a record when one side is empty; Trim drops bytes up to 32 at both ends
// (cp1251 letters above 127 stay); Compare orders by signed bytes, the null handle first.
TEST(AnsiString, ConcatenateTrimAndCompare) {
  TAnsiString a("abc"), b("de");
  EXPECT_EQ(Text(Concatenate(a, b)), "abcde");
  EXPECT_EQ(Text(a + b + TAnsiString("f")), "abcdef");
  EXPECT_EQ(Text(a), "abc");
  EXPECT_EQ(Concatenate(TAnsiString(), b).SharedRecord(), b.SharedRecord());
  EXPECT_EQ(Concatenate(a, TAnsiString()).SharedRecord(), a.SharedRecord());
  const char upperA[] = {static_cast<char>(0xC0), 0}, spacedA[] = {' ', static_cast<char>(0xC0), ' ', 0};
  const struct {
    const char* text;
    const char* trimmed;  // null: the null handle
  } trims[] = {{"  \tab c\n", "ab c"}, {"   ", nullptr}, {"x", "x"}, {spacedA, upperA}};
  for (const auto& t : trims) {
    const TAnsiString trimmed = Trim(TAnsiString(t.text));
    if (t.trimmed == nullptr)
      EXPECT_EQ(trimmed.SharedRecord(), nullptr) << t.text;
    else
      EXPECT_EQ(Text(trimmed), t.trimmed) << t.text;
  }
  const struct {
    const char *left, *right;
    int order;
  } compares[] = {{"a", "b", -1}, {"ab", "a", 1}, {nullptr, "a", -1}, {nullptr, nullptr, 0}, {"a", nullptr, 1},
                  {upperA, "A", -1}};
  for (const auto& c : compares)
    EXPECT_EQ(Compare(TAnsiString(c.left), TAnsiString(c.right)), c.order) << (c.left ? c.left : "null");
}

const WCHAR kOshibka[] = WIDE_TEXT("\u041e\u0448\u0438\u0431\u043a\u0430");  // "Ошибка"
const uint8_t kOshibka1251[] = {0xCE, 0xF8, 0xE8, 0xE1, 0xEA, 0xE0};

// Converters standing for the code-page tables: the Cyrillic block only, and one that drops every
// second unit, as a converter that turns surrogate pairs into one byte would shorten.
int CyrillicToNarrow(UINT, DWORD, const WCHAR* src, int srcLen, char* dst, int, const char*, BOOL*) {
  for (int n = 0; n < srcLen; ++n) dst[n] = static_cast<char>(src[n] >= 0x0410 ? 0xC0 + (src[n] - 0x0410) : src[n]);
  return srcLen;
}
int CyrillicToWide(UINT, DWORD, const char* src, int srcLen, WCHAR* dst, int) {
  for (int n = 0; n < srcLen; ++n) {
    const uint8_t b = static_cast<uint8_t>(src[n]);
    dst[n] = static_cast<WCHAR>(b >= 0xC0 ? 0x0410 + (b - 0xC0) : b);
  }
  return srcLen;
}
int HalvingToNarrow(UINT, DWORD, const WCHAR* src, int srcLen, char* dst, int, const char*, BOOL*) {
  int n = 0;
  for (int i = 0; i < srcLen; i += 2) dst[n++] = static_cast<char>(src[i]);
  return n;
}

// Without converters a wide text narrows to its low bytes and a narrow one widens with zeros.
TEST(Conversion, WithoutAndThroughTheInstalledConverters) {
  SetCodePageConverters(nullptr, nullptr);
  TAnsiString low = FromWide(TWideString(kOshibka));
  ASSERT_EQ(low.Length(), 6u);
  for (int i = 0; i < 6; ++i) EXPECT_EQ(static_cast<uint8_t>(low.Data()[i]), kOshibka[i] & 0xFF);
  EXPECT_EQ(low.Data()[6], 0);
  TWideString back = FromNarrow(TAnsiString("A\xC0"));
  ASSERT_EQ(back.Length(), 2u);
  EXPECT_EQ(back.Data()[1], 0xC0);
  EXPECT_EQ(FromWide(TWideString()).SharedRecord(), nullptr);

  SetCodePageConverters(CyrillicToWide, CyrillicToNarrow);
  TAnsiString narrow = FromWide(TWideString(kOshibka));
  ASSERT_EQ(narrow.Length(), 6u);
  EXPECT_EQ(0, std::memcmp(narrow.Data(), kOshibka1251, 6));
  TWideString wide = FromNarrow(narrow);
  ASSERT_EQ(wide.Length(), 6u);
  EXPECT_EQ(0, std::memcmp(wide.Data(), kOshibka, 12));
  SetCodePageConverters(CyrillicToWide, HalvingToNarrow);
  EXPECT_EQ(Text(FromWide(TWideString(WIDE_TEXT("abcdef")))), "ace");
  SetCodePageConverters(nullptr, nullptr);
}

TEST(WideString, HandlesShareAndCopyOnWrite) {
  TWideString a(WIDE_TEXT("wide"));
  TWideString b(a);
  EXPECT_EQ(a.SharedRecord()->references, 2u);
  b.SetLength(2);
  EXPECT_EQ(b.Length(), 2u);
  EXPECT_EQ(a.Length(), 4u);
  EXPECT_EQ(a.SharedRecord()->references, 1u);
  EXPECT_EQ(TWideString(WIDE_TEXT("")).SharedRecord(), nullptr);
}

TEST(AnsiString, RecordsAndBuffersGoBackToTheManager) {
  TMemoryRegionState before{};
  {
    TAnsiString warmup("w");
  }
  ASSERT_TRUE(MemoryRegionState(CurrentMemoryRegion(), before));
  {
    TAnsiString a("some text");
    TAnsiString b = a + TAnsiString(" and more");
    TAnsiString c = Trim(b);
    c.Erase(1, 2);
  }
  TMemoryRegionState after{};
  ASSERT_TRUE(MemoryRegionState(CurrentMemoryRegion(), after));
  EXPECT_EQ(after.used, before.used);
  EXPECT_EQ(after.count, before.count);
}

}  // namespace
