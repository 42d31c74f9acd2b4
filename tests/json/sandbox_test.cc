// Hostile replies: each ends within its bounds, and the document works afterwards.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "charset/codepage.h"
#include "json/json_document.h"
#include "json/script_engine.h"

namespace quenbrel {
namespace {

using Clock = std::chrono::steady_clock;

// Well past the time bound the tests set, even on a busy machine under sanitizers.
constexpr auto kBounded = std::chrono::seconds(8);

// The tests stop endless code after a tenth of the usual time, to stay quick.
class SandboxTest : public testing::Test {
 protected:
  void SetUp() override { SetSandboxBounds({.timeBase = std::chrono::milliseconds(100)}); }
  void TearDown() override { SetSandboxBounds({}); }
};

TEST(SandboxBoundsTest, EndlessCodeStopsAfterTheTimeBase) {
  std::shared_ptr<ScriptEngine> engine = ScriptEngine::Create();
  ASSERT_NE(engine, nullptr);
  const auto start = Clock::now();
  EXPECT_EQ(engine->EvalText("for (;;) {}"), "");
  EXPECT_TRUE(engine->LastCallStopped());
  EXPECT_GE(Clock::now() - start, kTimeBase);  // CPU time, which wall time is never below
  EXPECT_LT(Clock::now() - start, kBounded);
}

struct HostileCase {
  const char* name;
  Text reply;
  bool loaded;
};

Text Nested(int depth) { return Text(depth, '[') + Text(depth, ']'); }

TEST_F(SandboxTest, HostileRepliesEndWithinBounds) {
  const HostileCase cases[] = {
      {"endless loop", "(function(){while(1){}})()", false},
      {"loop that catches", "(function(){while(1){try{while(1){}}catch(e){}finally{}}})()", false},
      {"string doubling",
       "(function(){var s='abcdefgh',k=[];while(1){try{s=s+s;k.push(s.indexOf('z'))}"
       "catch(e){s=s.slice(1)}}})()",
       false},
      {"array bomb", "(function(){var a=[];while(1)a.push(a.length)})()", false},
      {"object bomb", "(function(){var a=[];while(1)a.push({x:a.length,y:[1,2,3]})})()", false},
      {"filled huge array", "new Array(2e9).fill(1)", false},
      {"deep recursion", "(function f(n){return f(n+1)+1})(0)", false},
      {"recursion that catches", "(function(){function f(){f()}while(1){try{f()}catch(e){}}})()",
       false},
      {"deep nesting", Nested(100000), false},
      {"deep object nesting",
       [] {
         Text t;
         for (int i = 0; i < 100000; ++i) t += "{a:";
         return t + "1" + Text(100000, '}');
       }(),
       false},
      {"promise loop", "(function(){for(;;)Promise.resolve(1).then(function(){})})()", false},
  };
  JsonDocument doc;
  for (const HostileCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto start = Clock::now();
    EXPECT_EQ(doc.Parse(c.reply), c.loaded);
    EXPECT_LT(Clock::now() - start, kBounded);
    // The document answers the next operation normally.
    EXPECT_EQ(doc.ToJson(), "null");
    EXPECT_EQ(doc.GetType(), JsonType::Null);
    ASSERT_TRUE(doc.Parse(R"({"short_url":"http://t.cn/x","msg":"ok"})"));
    EXPECT_EQ(doc.GetText("short_url"), "http://t.cn/x");
  }
}

// With time to spare, memory bombs are stopped by the memory bound.
TEST(SandboxBoundsTest, MemoryBombsStopAtTheMemoryBound) {
  SetSandboxBounds({.timeBase = std::chrono::seconds(60), .memoryBase = std::size_t{64} << 20});
  std::shared_ptr<ScriptEngine> engine = ScriptEngine::Create();
  ASSERT_NE(engine, nullptr);
  for (const char* code : {
           "var s = 'abcdefgh', k = []; while (1) { try { s = s + s; k.push(s.indexOf('z')) } "
           "catch (e) { s = s.slice(1) } }",
           "var a = []; while (1) a.push(a.length)",
           "var o = []; while (1) o.push({x: o.length, y: [1, 2, 3]})",
           "new Array(2e9).fill(1)",
           "var b = []; while (1) { try { b.push(new ArrayBuffer(1 << 24)) } catch (e) {} }",
       }) {
    SCOPED_TRACE(code);
    const auto start = Clock::now();
    EXPECT_EQ(engine->EvalText(code + std::string("; 'done'")), "");
    EXPECT_LT(Clock::now() - start, kBounded);
    EXPECT_EQ(engine->EvalText("'next'"), "next");
  }
  SetSandboxBounds({});
}

TEST_F(SandboxTest, DeepValuesAreErrorsNotCrashes) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Parse("(function(){var a=[];for(var i=0;i<100000;i++)a=[a];return a})()"));
  EXPECT_EQ(doc.ToJson(), "");  // too much recursion in the writer
  EXPECT_EQ(doc.GetCount(), 1);
  EXPECT_EQ(doc.GetType(), JsonType::Object);  // the stringify that tells arrays fails
  EXPECT_EQ(doc.GetObject("")->GetType(), JsonType::Null);
}

TEST_F(SandboxTest, RepliesThatOverwriteThePrelude) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Parse("(JSON = null, {a: 1})"));
  EXPECT_EQ(doc.ToJson(), "");
  EXPECT_EQ(doc.GetText("a"), "1");
  ASSERT_TRUE(doc.Parse("(get__count = function(){ return 1e300 }, {a: 1})"));
  EXPECT_EQ(doc.GetCount(), 0);
  ASSERT_TRUE(doc.Parse("(Object.prototype.toString = function(){ while(1){} }, {a: [1]})"));
  const auto start = Clock::now();
  EXPECT_EQ(doc.ToJson(), "");                    // each read is stopped on its own
  EXPECT_EQ(doc.GetType("a"), JsonType::Object);  // the stringify that tells arrays is stopped
  EXPECT_EQ(doc.GetText("a"), "1");
  EXPECT_LT(Clock::now() - start, 2 * kBounded);
  EXPECT_EQ(doc.GetNumber("a[0]"), 1);
  ASSERT_TRUE(doc.Parse("(Object.prototype = null, Array.prototype.join = 0, {a: [1, 2]})"));
  EXPECT_EQ(doc.ToJson(), "");
  // The next Parse starts from a fresh engine.
  ASSERT_TRUE(doc.Parse(R"({"a":[1,2]})"));
  EXPECT_EQ(doc.ToJson(), R"({"a":[1,2]})");
  EXPECT_EQ(doc.GetCount("a"), 2);
  EXPECT_EQ(doc.GetText("a"), "1,2");
}

TEST_F(SandboxTest, StopsCannotBeCaughtAndKeepVariables) {
  std::shared_ptr<ScriptEngine> engine = ScriptEngine::Create();
  ASSERT_NE(engine, nullptr);
  engine->AddCode("var kept = 1, after = 0");
  EXPECT_EQ(engine->EvalText("try { while (1) {} } catch (e) {} finally { after = 1 } 'done'"), "");
  EXPECT_TRUE(engine->LastCallStopped());
  EXPECT_EQ(engine->EvalNumber("kept + after"), 1);
  EXPECT_FALSE(engine->LastCallStopped());
  // A toString that loops is stopped during the conversion of the result.
  EXPECT_EQ(engine->EvalText("({toString: function() { for (;;) {} }})"), "");
  EXPECT_TRUE(engine->LastCallStopped());
}

TEST_F(SandboxTest, TextsOutsideTheCodePage) {
  JsonDocument doc;
  // An emoji (two UTF-16 units) and U+200C come back as "?" each; the escape names U+200C.
  ASSERT_TRUE(doc.Parse(R"({"a":"x\ud83d\ude00\u200cy"})"));
  EXPECT_EQ(doc.GetText("a"), "x???y");
  EXPECT_EQ(doc.ToJson(), R"({"a":"x??\u200cy"})");
  // A lead byte without its trail byte is one U+FFFD, and the quote after it still counts.
  ASSERT_TRUE(doc.Parse("{\"a\":\"\x81\"}"));
  EXPECT_EQ(doc.GetText("a"), "?");
  // A U+0000 inside the engine ends the text that comes out.
  ASSERT_TRUE(doc.Parse(R"({"a":"ab\u0000cd"})"));
  EXPECT_EQ(doc.GetText("a"), "ab");
  EXPECT_EQ(doc.GetText("a", true), R"("ab\u0000cd")");
}

TEST_F(SandboxTest, AFiftyMegabyteReplyLoads) {
  Text reply = "{";
  const Text value(40, 'v');
  int members = 0;
  while (reply.size() < (std::size_t{50} << 20)) {
    if (members > 0) reply += ',';
    reply += "\"k" + std::to_string(members++) + "\":\"" + value + "\"";
  }
  reply += '}';
  JsonDocument doc;
  ASSERT_TRUE(doc.Parse(reply));
  EXPECT_EQ(doc.GetCount(), members);
  EXPECT_EQ(doc.GetText("k" + std::to_string(members - 1)), value);
  EXPECT_EQ(doc.ToJson().size(), reply.size());
}

}  // namespace
}  // namespace quenbrel
