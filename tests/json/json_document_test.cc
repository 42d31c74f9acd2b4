// JsonDocument: loading, serialising, copying and reading by path.

#include "json/json_document.h"

#include <gtest/gtest.h>

#include <string>

#include "charset/codepage.h"

namespace quenbrel {
namespace {

struct ParseCase {
  Text text;
  bool loaded;
  Text json;  // ToJson afterwards
};

TEST(JsonDocumentTest, ParseAndToJson) {
  const Text chinese = "\xD6\xD0\xCE\xC4";  // two Chinese characters in code page 936
  const ParseCase cases[] = {
      {R"({"a":"x","b":"y"})", true, R"({"a":"x","b":"y"})"},
      {"{ \"b\" : \"y\" ,\r\n\t\"a\" : [ 1 , 2 ] }", true, R"({"b":"y","a":[1,2]})"},
      {"", false, ""},  // eval() of nothing is undefined
      {"null", false, "null"},
      {"0", true, "0"},
      {"false", true, "false"},
      {"[]", true, "[]"},
      {"{}", true, "{}"},
      {R"({"a":)", false, "null"},  // a syntax error leaves the value null
      {R"("1+1")", true, "2"},      // a JSON string is run as code
      {R"("abc")", false, "null"},
      {R"("null")", false, "null"},
      // JavaScript that is not JSON.
      {"{'a':'x', b: 2 /* note */}", true, R"({"a":"x","b":2})"},
      {R"({"a":1} // note)", false, "null"},  // swallows the closing parenthesis
      // Serialisation: left-out members, holes, non-finite numbers, wrappers, dates.
      {"{a:undefined, b:function(){}, c:[undefined, function(){}, , 1], d:null}", true,
       R"({"c":[null,null,null,1],"d":null})"},
      {"[NaN, Infinity, -Infinity, -0, 1e21, 0.1, 5e-7]", true,
       "[null,null,null,0,1e+21,0.1,5e-7]"},
      {"[new String('s'), new Number(1), new Boolean(false)]", true, R"(["s",1,false])"},
      {"[new Date(Date.UTC(2024, 0, 2, 3, 4, 5, 678)), new Date(NaN)]", true,
       R"(["2024-01-02T03:04:05Z",null])"},
      {"{2:'b', 1:'a', z:1, y:2}", true, R"({"1":"a","2":"b","z":1,"y":2})"},
      // The escape set, each as \u and lower-case hex unless it has a short form.
      {R"(["\b\t\n\f\r\"\\/"])", true, R"(["\b\t\n\f\r\"\\/"])"},
      {R"(["\u0000\u0001\u001F\u007F\u009F\u00AD\u0600\u0604\u070F\u17B4\u17B5"])", true,
       R"(["\u0000\u0001\u001f\u007f\u009f\u00ad\u0600\u0604\u070f\u17b4\u17b5"])"},
      {R"(["\u200C\u200F\u2028\u2029\u202F\u2060\u206F\uFEFF\uFFF0\uFFFF"])", true,
       R"(["\u200c\u200f\u2028\u2029\u202f\u2060\u206f\ufeff\ufff0\uffff"])"},
      // Just outside the set, and Chinese: written as they are.
      {"[\" ~\\u2030\\u00B7" + chinese + "\"]", true,
       "[\" ~" + Utf16ToLocal(u"\u2030\u00B7") + chinese + "\"]"},
  };
  JsonDocument doc;
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(doc.Parse(c.text), c.loaded);
    EXPECT_EQ(doc.ToJson(), c.json);
  }
}

TEST(JsonDocumentTest, ASecondParseKeepsNothingOfTheFirst) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Parse("(leftOver = 5, {a: 1})"));
  ASSERT_TRUE(doc.Parse("({b: 2, seen: typeof leftOver})"));
  EXPECT_EQ(doc.ToJson(), R"({"b":2,"seen":"undefined"})");
  // A prototype changed by one reply is fresh for the next.
  ASSERT_TRUE(doc.Parse("(Object.prototype.extra = 1, {})"));
  EXPECT_EQ(doc.GetCount(), 1);
  ASSERT_TRUE(doc.Parse("{}"));
  EXPECT_EQ(doc.GetCount(), 0);
}

TEST(JsonDocumentTest, CopySharesTheValue) {
  auto doc = std::make_unique<JsonDocument>();
  ASSERT_TRUE(doc->Parse(R"({"a":1})"));
  std::unique_ptr<JsonDocument> copy = doc->Copy();
  // Paths run as code, which is how a value is changed before editing exists.
  EXPECT_TRUE(copy->Exists("b=2,true"));
  EXPECT_EQ(doc->GetText("b"), "2");
  EXPECT_TRUE(doc->Exists("a='x',true"));
  EXPECT_EQ(copy->ToJson(), R"({"a":"x","b":2})");
  // Each holds its own reference: the copy outlives the original.
  doc->Destroy();
  doc.reset();
  EXPECT_EQ(copy->GetText("a"), "x");
  // Parse gives the copy a fresh engine of its own.
  auto other = copy->Copy();
  ASSERT_TRUE(copy->Parse("[1]"));
  EXPECT_EQ(other->ToJson(), R"({"a":"x","b":2})");
}

TEST(JsonDocumentTest, AnEmptyDocumentGivesEmptyResults) {
  JsonDocument doc;
  doc.Destroy();
  doc.Destroy();
  EXPECT_FALSE(doc.Parse(R"({"a":1})"));
  EXPECT_EQ(doc.ToJson(), "");
  EXPECT_EQ(doc.GetText("a"), "");
  EXPECT_EQ(doc.GetText("a", true), "");
  EXPECT_EQ(doc.GetNumber("a"), 0);
  EXPECT_EQ(doc.GetCount(), 0);
  EXPECT_FALSE(doc.Exists("a"));
  EXPECT_EQ(doc.GetType(), JsonType::Other);
  TextList names = {"old"};
  EXPECT_EQ(doc.GetMemberNames(names), 0);
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(doc.GetObject("a")->ToJson(), "");
}

// The reply the reads below work on.
constexpr const char* kReply =
    R"({"short_url":"http://t.cn/x","msg":"\u6210\u529f","n":0.1,"big":1234567890.123456,)"
    R"("huge":1e21,"z":0,"t":true,"f":false,"nul":null,"s":"12","o":{"a":1,"b":[1,2]},)"
    R"("list":[{"title":"x"},"y"],"e":{},"ea":[]})";

struct ReadCase {
  const char* path;
  Text text;
  Text json;  // GetText with asJson, the same as GetJson
  double number;
  JsonType type;
  bool exists;
};

TEST(JsonDocumentTest, ReadsByPath) {
  const ReadCase cases[] = {
      {"short_url", "http://t.cn/x", "\"http://t.cn/x\"", 0, JsonType::String, true},
      {"msg", Utf16ToLocal(u"\u6210\u529f"), "\"" + Utf16ToLocal(u"\u6210\u529f") + "\"", 0,
       JsonType::String, true},
      {"n", "0.1", "0.1", 0.1, JsonType::Number, true},
      {"big", "1234567890.123", "1234567890.123456", 1234567890.123456, JsonType::Number, true},
      {"huge", "1e+21", "1e+21", 1e21, JsonType::Number, true},
      {"z", "0", "0", 0, JsonType::Number, true},
      {"t", "true", "true", 1, JsonType::Boolean, true},
      {"f", "false", "false", 0, JsonType::Boolean, true},
      {"nul", "", "null", 0, JsonType::Null, false},
      {"s", "12", "\"12\"", 12, JsonType::String, true},
      {"o", "[object Object]", R"({"a":1,"b":[1,2]})", 0, JsonType::Object, true},
      {"o.b", "1,2", "[1,2]", 0, JsonType::Array, true},
      {"o.b[1]", "2", "2", 2, JsonType::Number, true},
      {"list[0].title", "x", "\"x\"", 0, JsonType::String, true},
      {"['o'].a", "1", "1", 0, JsonType::Other, false},  // dotted joins fail on "["
      {"missing", "", "", 0, JsonType::Null, false},
      {"missing.deeper", "", "", 0, JsonType::Other, false},
      {"o.(", "", "", 0, JsonType::Other, false},
  };
  JsonDocument doc;
  ASSERT_TRUE(doc.Parse(kReply));
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(doc.GetText(c.path), c.text);
    EXPECT_EQ(doc.GetText(c.path, true), c.json);
    if (c.path[0] != '[') {
      EXPECT_EQ(doc.GetJson(c.path), c.json);
    }
    EXPECT_EQ(doc.GetNumber(c.path), c.number);
    EXPECT_EQ(doc.GetType(c.path), c.type);
    EXPECT_EQ(doc.Exists(c.path), c.exists);
  }
  // Reads leave the value as it was.
  JsonDocument original;
  ASSERT_TRUE(original.Parse(kReply));
  EXPECT_EQ(doc.ToJson(), original.ToJson());
}

TEST(JsonDocumentTest, CountsAndTypes) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Parse(kReply));
  const struct {
    const char* path;
    int count;
  } counts[] = {{"", 14},  {"o", 2},        {"o.b", 2},  {"['o']", 2},         {"e", 0},
                {"ea", 0}, {"missing", -2}, {"nul", -2}, {"missing.deeper", 0}};
  for (const auto& c : counts) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(doc.GetCount(c.path), c.count);
  }
  EXPECT_EQ(doc.GetType(), JsonType::Object);

  ASSERT_TRUE(doc.Parse(R"(["a",{"k":"v"},3,[true]])"));
  EXPECT_EQ(doc.GetType(), JsonType::Array);
  EXPECT_EQ(doc.GetCount(), 4);
  EXPECT_EQ(doc.GetText("[0]"), "a");
  EXPECT_EQ(doc.GetText("[2]"), "3");
  EXPECT_EQ(doc.GetText("[1]", true), R"({"k":"v"})");
  EXPECT_EQ(doc.GetItemText(0), "a");
  EXPECT_EQ(doc.GetItemText(1, "", true), R"({"k":"v"})");
  EXPECT_EQ(doc.GetItemText(2), "3");
  EXPECT_EQ(doc.GetItemText(9), "");
  EXPECT_EQ(doc.GetItemText(0, "[3]"), "");  // the optional join is dotted

  ASSERT_TRUE(doc.Parse(R"({"data":{"list":[10,20.5]}})"));
  EXPECT_EQ(doc.GetItemText(1, "data.list"), "20.5");
  EXPECT_EQ(doc.GetItemText(0, "data.list", true), "10");
  EXPECT_EQ(doc.GetItemText(0, "data.missing"), "");
}

TEST(JsonDocumentTest, MemberNames) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Parse(R"({"b":1,"a":{"x":1,"toJSONStringy":2},"":3,"c,d":4})"));
  TextList names = {"stale"};
  EXPECT_EQ(doc.GetMemberNames(names), 5);  // the "," inside a name splits it
  EXPECT_EQ(names, (TextList{"b", "a", "", "c", "d"}));
  EXPECT_EQ(doc.GetMemberNames(names, "a"), 2);
  EXPECT_EQ(names, (TextList{"x", "toJSONStringy"}));
  EXPECT_EQ(doc.GetMemberNames(names, "['a']"), 2);
  EXPECT_EQ(doc.GetMemberNames(names, "missing.deeper"), 0);
  EXPECT_TRUE(names.empty());
  ASSERT_TRUE(doc.Parse("{}"));
  names = {"stale"};
  EXPECT_EQ(doc.GetMemberNames(names), 0);
  EXPECT_TRUE(names.empty());
  ASSERT_TRUE(doc.Parse("[7,8]"));
  EXPECT_EQ(doc.GetMemberNames(names), 2);
  EXPECT_EQ(names, (TextList{"0", "1"}));
}

TEST(JsonDocumentTest, SubDocuments) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Parse(R"({"o":{"a":1,"f":"x"},"list":[[1,2],{"k":"v"}],"code":"1+2"})"));
  std::unique_ptr<JsonDocument> o = doc.GetObject("o");
  EXPECT_EQ(o->ToJson(), R"({"a":1,"f":"x"})");
  // Its own engine: a change to either does not reach the other.
  EXPECT_TRUE(o->Exists("a=9,true"));
  EXPECT_EQ(doc.GetNumber("o.a"), 1);
  EXPECT_EQ(doc.GetObject("['o']")->GetText("f"), "x");
  EXPECT_EQ(doc.GetItemObject(1, "list")->GetText("k"), "v");
  EXPECT_EQ(doc.GetItemObject(0, "list")->GetCount(), 2);
  // A string member is run as code, as Parse runs a JSON string.
  EXPECT_EQ(doc.GetObject("code")->ToJson(), "3");
  // Missing members give a document that holds no value.
  std::unique_ptr<JsonDocument> missing[] = {
      doc.GetObject("missing"), doc.GetObject("missing.deeper"), doc.GetItemObject(5, "list")};
  for (auto& sub : missing) {
    EXPECT_EQ(sub->GetType(), JsonType::Null);
    EXPECT_TRUE(sub->Parse("[1]"));  // and is a working document
  }
}

}  // namespace
}  // namespace quenbrel
