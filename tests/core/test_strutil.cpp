#include "core/StrUtil.h"

#include <cjson/cJSON.h>
#include <gtest/gtest.h>

#include <climits>
#include <regex>
#include <string>

TEST(StrUtil, CodePageConversionsAreIdentityCutAtNul) {
  std::string text = "增值税 ABC";
  EXPECT_EQ(Utf8ToAnsi(text), text);
  EXPECT_EQ(AnsiToUtf8(text), text);
  EXPECT_EQ(AnsiToUtf8(std::string("ab\0cd", 5)), "ab");
  EXPECT_EQ(Utf8ToAnsi(std::string("\0x", 2)), "");
}

TEST(StrUtil, CaseHexAndNumbers) {
  std::string text = "Content-TYPE: Ä1";
  ToLower(text);
  EXPECT_EQ(text, "content-type: Ä1");  // only A-Z change

  unsigned char ab[16];
  for (auto& b : ab) b = 0xAB;
  EXPECT_EQ(BytesToHex(ab), "ABABABABABABABABABABABABABABABAB");
  unsigned char seq[16] = {0x00, 0x01, 0x0F, 0x10, 0x7F, 0x80, 0xFE, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(BytesToHex(seq), "00010F107F80FEFF0102030405060708");

  EXPECT_EQ(IntToString(INT32_MIN), "-2147483648");
  EXPECT_EQ(IntToString(INT32_MAX), "2147483647");
  EXPECT_EQ(IntToString(0), "0");
}

TEST(StrUtil, NewGuidTextHasPrefixAndFreshDigits) {
  std::regex form("Global\\\\[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}");
  std::string a = NewGuidText("Global\\");
  std::string b = NewGuidText("Global\\");
  EXPECT_TRUE(std::regex_match(a, form)) << a;
  EXPECT_TRUE(std::regex_match(b, form)) << b;
  EXPECT_EQ(a.size(), 7u + 36u);
  EXPECT_NE(a, b);
}

TEST(StrUtil, ReplaceAllRepeatsUntilNoneIsLeft) {
  std::string s = "%2%200";
  ReplaceAll(s, "%20", "");
  EXPECT_EQ(s, "");

  s = "https%3A%2F%2F127.0.0.1%3A18086%2Fv1";
  ReplaceAll(s, "%3A", ":");
  ReplaceAll(s, "%2F", "/");
  EXPECT_EQ(s, "https://127.0.0.1:18086/v1");

  s = "aaa";
  ReplaceAll(s, "", "x");  // nothing to look for
  EXPECT_EQ(s, "aaa");
  ReplaceAll(s, "a", "aa");  // would never end: one pass
  EXPECT_EQ(s, "aaaaaa");
  s = "xxabbb";
  ReplaceAll(s, "ab", "a");
  EXPECT_EQ(s, "xxa");
}

TEST(StrUtil, SplitStringIntoKeyValues) {
  StringMap map;
  SplitString("messageID=7&dylx=1&XMLKey=a=b&&x", "&", map);
  EXPECT_EQ(map, (StringMap{{"messageID", "7"}, {"dylx", "1"}, {"XMLKey", "a=b"}}));

  map.clear();
  SplitString("k=1&k=2&e=", "&", map);
  EXPECT_EQ(map, (StringMap{{"k", "2"}, {"e", ""}}));

  map.clear();
  SplitString("a=1;b=2,c=3", "[;,]", map);  // the separator is an expression
  EXPECT_EQ(map, (StringMap{{"a", "1"}, {"b", "2"}, {"c", "3"}}));

  map.clear();
  SplitKeyValue("novalue", map);
  SplitKeyValue("=v", map);
  EXPECT_EQ(map, (StringMap{{"", "v"}}));
}

TEST(StrUtil, MapToJsonEmbedsParsedObjectsAndDropsBadOnes) {
  StringMap map{{"obj", "{\"x\":1}"},
                {"arr", "[{\"y\":\"二\"}]"},
                {"bad", "{bad"},
                {"text", "x{"},
                {"code", "0"},
                {"msg", "成功"},
                {"list", "[1,2]"}};
  std::string out;
  MapToJson(map, out);
  EXPECT_EQ(out,
            "{\n"
            "\t\"arr\":\t[{\n"
            "\t\t\t\"y\":\t\"二\"\n"
            "\t\t}],\n"
            "\t\"code\":\t\"0\",\n"
            "\t\"list\":\t\"[1,2]\",\n"
            "\t\"msg\":\t\"成功\",\n"
            "\t\"obj\":\t{\n"
            "\t\t\"x\":\t1\n"
            "\t},\n"
            "\t\"text\":\t\"x{\"\n"
            "}");
  cJSON* parsed = cJSON_Parse(out.c_str());
  ASSERT_NE(parsed, nullptr);
  EXPECT_TRUE(cJSON_IsArray(cJSON_GetObjectItemCaseSensitive(parsed, "arr")));
  EXPECT_EQ(cJSON_GetObjectItemCaseSensitive(parsed, "bad"), nullptr);
  cJSON_Delete(parsed);

  MapToJson(StringMap{}, out);
  EXPECT_EQ(out, "{\n}");
}
