/*
 * test_strings.cc - trimming, substituting and inserting text.
 *
 * The heap-string operations take over the block they are given, so every
 * case keeps only the returned pointer and frees it at the end; running
 * under AddressSanitizer then shows any use of a freed block or a write
 * past a block.  Messages are caught by a hook, so no display is needed.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "settings_fixture.h"
#include "utility.h"

namespace {

using vxtest::Messages;

constexpr std::size_t kMaxTextLength = 32767;

// A core-library block holding text, as the operations expect.
Nlm_CharPtr Block(const std::string &text) {
  auto block = static_cast<Nlm_CharPtr>(Nlm_MemGet(text.size() + 1, MGET_CLEAR));
  std::memcpy(block, text.data(), text.size());
  return block;
}

class HeapStrings : public vxtest::MessageTest {
 protected:
  // Runs StrSubstitute on a fresh block; returns the text and the count.
  std::string Substitute(const std::string &text, const char *search, const char *replacement,
                         bool wholeWord, Nlm_Int2 *count) {
    Nlm_CharPtr result =
        StrSubstitute(Block(text), search, replacement, wholeWord ? TRUE : FALSE, count);
    std::string out = result != nullptr ? result : "<null>";
    Nlm_MemFree(result);
    return out;
  }

  std::string Insert(const std::string &text, Nlm_Int2 pos, const char *insertion) {
    Nlm_CharPtr result = StrInsert(Block(text), pos, insertion);
    std::string out = result != nullptr ? result : "<null>";
    Nlm_MemFree(result);
    return out;
  }
};

std::string Trim(std::string text) {
  std::vector<char> buf(text.begin(), text.end());
  buf.push_back('\0');
  EXPECT_EQ(StrTrim(buf.data()), buf.data());
  return buf.data();
}

TEST(StrTrim, RemovesTheTrimSetAtBothEndsOnly) {
  EXPECT_EQ(Trim(""), "");
  EXPECT_EQ(Trim(" \t\n\r \n"), "");
  EXPECT_EQ(Trim(std::string(" a b") + '\x1a'), "a b");
  EXPECT_EQ(Trim("\x1a\r\nword\t\r\n"), "word");
  EXPECT_EQ(Trim("x"), "x");
  EXPECT_EQ(Trim("  x"), "x");
  EXPECT_EQ(Trim("x  "), "x");
  // Inner trim-set characters and other control characters stay.
  EXPECT_EQ(Trim("a \t\n b"), "a \t\n b");
  EXPECT_EQ(Trim("\x0b"
                 "a\x0c"),
            "\x0b"
            "a\x0c");
  EXPECT_EQ(StrTrim(nullptr), nullptr);
}

TEST_F(HeapStrings, WholeWordSkipsOccurrencesAfterLetterOrDigit) {
  Nlm_Int2 count = -1;
  EXPECT_EQ(Substitute("abc 1abc abcd", "abc", "x", true, &count), "x 1abc xd");
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Substitute("abc 1abc abcd", "abc", "x", false, &count), "x 1x xd");
  EXPECT_EQ(count, 3);
  // The underscore is not a letter; non-ASCII bytes are not letters either.
  EXPECT_EQ(Substitute("_abc zabc \xe9"
                       "abc",
                       "abc", "x", true, &count),
            "_x zabc \xe9x");
  EXPECT_EQ(count, 2);
  // The character before an occurrence is judged in the text as changed:
  // the first b became "-", so the second one follows a non-letter.
  EXPECT_EQ(Substitute("bb", "b", "-", true, &count), "--");
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Substitute("bb", "b", "x", true, &count), "xb");
  EXPECT_EQ(count, 1);
}

TEST_F(HeapStrings, ReplacementIsNeverSearchedAgain) {
  Nlm_Int2 count = -1;
  EXPECT_EQ(Substitute("a-a", "a", "aa", false, &count), "aa-aa");
  EXPECT_EQ(count, 2);
  EXPECT_EQ(Substitute("aaa", "aa", "a", false, &count), "aa");
  EXPECT_EQ(count, 1);
  EXPECT_EQ(Substitute("xyxy", "xy", "", false, &count), "");
  EXPECT_EQ(count, 2);
  // No counter at all is fine.
  EXPECT_EQ(Substitute("abc", "b", "B", false, nullptr), "aBc");
}

TEST_F(HeapStrings, NothingToDoReturnsTheSameBlock) {
  const struct {
    const char *search;
    const char *replacement;
  } cases[] = {{"zz", "y"}, {"", "y"}, {nullptr, "y"}, {"a", nullptr}};
  for (const auto &c : cases) {
    Nlm_CharPtr block = Block("banana");
    Nlm_Int2 count = -1;
    Nlm_CharPtr result = StrSubstitute(block, c.search, c.replacement, FALSE, &count);
    EXPECT_EQ(result, block) << (c.search ? c.search : "(null)");
    EXPECT_STREQ(result, "banana");
    EXPECT_EQ(count, 0);
    Nlm_MemFree(result);
  }
  Nlm_Int2 count = -1;
  EXPECT_EQ(StrSubstitute(nullptr, "a", "b", FALSE, &count), nullptr);
  EXPECT_EQ(count, 0);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(HeapStrings, ResultBeyondSixteenBitLengthIsRefused) {
  const std::string text(kMaxTextLength / 2 + 1, 'a');
  Nlm_CharPtr block = Block(text);
  Nlm_Int2 count = -1;
  Nlm_CharPtr result = StrSubstitute(block, "a", "aa", FALSE, &count);
  EXPECT_EQ(result, block);
  EXPECT_EQ(std::string(result), text);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Messages().size(), 1u);
  Nlm_MemFree(result);

  // A text already beyond the limit is refused as a whole.
  Messages().clear();
  const std::string tooLong(kMaxTextLength + 1, 'z');
  block = Block(tooLong);
  result = StrSubstitute(block, "z", "", FALSE, &count);
  EXPECT_EQ(result, block);
  EXPECT_EQ(std::string(result), tooLong);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(Messages().size(), 1u);
  Nlm_MemFree(result);

  // Exactly at the limit is still fine.
  Messages().clear();
  EXPECT_EQ(Substitute(std::string(kMaxTextLength - 2, 'b') + "c", "c", "dd", false, &count).size(),
            kMaxTextLength);
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(HeapStrings, InsertAtEitherEndAndInside) {
  EXPECT_EQ(Insert("world", 0, "hello "), "hello world");
  EXPECT_EQ(Insert("hello", 5, " world"), "hello world");
  EXPECT_EQ(Insert("held", 2, "l"), "hell"
                                    "d");
  EXPECT_EQ(Insert("", 0, "x"), "x");
  EXPECT_EQ(Insert("abc", 1, ""), "abc");
}

TEST_F(HeapStrings, InsertOutsideTheTextClampsToTheNearerEnd) {
  EXPECT_EQ(Insert("abc", 4, "X"), "abcX");
  EXPECT_EQ(Insert("abc", 32767, "X"), "abcX");
  EXPECT_EQ(Insert("abc", -1, "X"), "Xabc");
  EXPECT_EQ(Insert("abc", -32768, "X"), "Xabc");
}

TEST_F(HeapStrings, InsertRefusals) {
  Nlm_CharPtr block = Block("abc");
  EXPECT_EQ(StrInsert(block, 1, nullptr), block);
  EXPECT_STREQ(block, "abc");
  EXPECT_EQ(StrInsert(nullptr, 0, "x"), nullptr);

  const std::string big(kMaxTextLength, 'q');
  Nlm_CharPtr result = StrInsert(block, 1, big.c_str());
  EXPECT_EQ(result, block);
  EXPECT_STREQ(result, "abc");
  EXPECT_EQ(Messages().size(), 1u);
  Nlm_MemFree(result);
}

}  // namespace
