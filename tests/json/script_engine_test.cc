// The engine's result kinds, text crossing through the code page, and failures.

#include "json/script_engine.h"

#include <gtest/gtest.h>

#include <thread>

namespace quenbrel {
namespace {

TEST(ScriptEngineTest, ResultKinds) {
  std::shared_ptr<ScriptEngine> engine = ScriptEngine::Create();
  ASSERT_NE(engine, nullptr);
  engine->AddCode("var a = [1, 2]; function twice(x) { return 2 * x }");
  EXPECT_EQ(engine->EvalText("a.join('+')"), "1+2");
  EXPECT_EQ(engine->EvalText("twice(21)"), "42");
  EXPECT_EQ(engine->EvalText("true"), "true");
  EXPECT_EQ(engine->EvalText("undefined"), "");
  EXPECT_EQ(engine->EvalText("null"), "");
  EXPECT_EQ(engine->EvalText("({})"), "[object Object]");
  EXPECT_EQ(engine->EvalNumber("a.length + 0.5"), 2.5);
  EXPECT_EQ(engine->EvalNumber("'12'"), 12);
  EXPECT_EQ(engine->EvalNumber("'abc'"), 0);
  EXPECT_EQ(engine->EvalNumber("true"), 1);
  EXPECT_EQ(engine->EvalNumber("undefined"), 0);
  EXPECT_EQ(engine->EvalNumber("null"), 0);
  EXPECT_TRUE(engine->EvalBoolean("a.length == 2"));
  EXPECT_FALSE(engine->EvalBoolean("null"));
  // The value of the last expression statement run, and var declarations that persist.
  EXPECT_EQ(engine->EvalText("var s=''; for (var k in {x:1, y:2}) {s=s+k;}"), "xy");
  EXPECT_EQ(engine->EvalText("s"), "xy");
  EXPECT_EQ(engine->EvalText("var t=''; for (var k in {}) {t=t+k;}"), "");
}

TEST(ScriptEngineTest, FailuresGiveEmptyResultsAndKeepVariables) {
  std::shared_ptr<ScriptEngine> engine = ScriptEngine::Create();
  ASSERT_NE(engine, nullptr);
  engine->AddCode("var kept = 7");
  for (const char* code : {"syntax error here", "missing.member", "throw 1"}) {
    SCOPED_TRACE(code);
    EXPECT_EQ(engine->EvalText(code), "");
    EXPECT_EQ(engine->EvalNumber(code), 0);
    EXPECT_FALSE(engine->EvalBoolean(code));
  }
  // Values that have no text.
  EXPECT_EQ(engine->EvalText("Symbol()"), "");
  EXPECT_EQ(engine->EvalText("({toString: function() { throw 2 }})"), "");
  engine->AddCode("kept = ");  // a failed AddCode leaves the variable as it was
  EXPECT_EQ(engine->EvalNumber("kept"), 7);
}

TEST(ScriptEngineTest, TextsCrossThroughTheCodePage) {
  std::shared_ptr<ScriptEngine> engine = ScriptEngine::Create();
  ASSERT_NE(engine, nullptr);
  // GBK in, GBK out; UTF-16 length inside the engine counts characters.
  EXPECT_EQ(engine->EvalNumber("'\xD6\xD0\xCE\xC4'.length"), 2);
  EXPECT_EQ(engine->EvalText("'\xD6\xD0' + '\\u6587'"), "\xD6\xD0\xCE\xC4");
  // Characters the code page lacks become "?", one per UTF-16 unit; U+0000 ends the text.
  EXPECT_EQ(engine->EvalText("'a\\u200Bb\\uD83D\\uDE00c'"), "a?b??c");
  EXPECT_EQ(engine->EvalText("'ab\\u0000cd'"), "ab");
}

TEST(ScriptEngineTest, EnginesAreSeparateAndPerThread) {
  std::shared_ptr<ScriptEngine> first = ScriptEngine::Create();
  std::shared_ptr<ScriptEngine> second = ScriptEngine::Create();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  first->AddCode("var x = 1; Object.prototype.polluted = 1");
  EXPECT_EQ(second->EvalText("typeof x"), "undefined");
  EXPECT_EQ(second->EvalText("typeof ({}).polluted"), "undefined");
  Text fromThread;
  std::thread worker([&fromThread] {
    std::shared_ptr<ScriptEngine> engine = ScriptEngine::Create();
    if (engine) fromThread = engine->EvalText("[1, 2, 3].length");
  });
  worker.join();
  EXPECT_EQ(fromThread, "3");
}

TEST(ScriptEngineTest, NoHostObjects) {
  std::shared_ptr<ScriptEngine> engine = ScriptEngine::Create();
  ASSERT_NE(engine, nullptr);
  for (const char* name : {"print", "load", "read", "os", "quit", "console", "WebAssembly",
                           "SharedArrayBuffer", "setTimeout", "require", "XMLHttpRequest"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(engine->EvalText(std::string("typeof ") + name), "undefined");
  }
  // Promise reactions never run.
  engine->AddCode("var ran = false; Promise.resolve().then(function() { ran = true })");
  EXPECT_EQ(engine->EvalText("ran"), "false");
}

}  // namespace
}  // namespace quenbrel
