#include "json/json_document.h"

#include <gtest/gtest.h>

namespace quenbrel {
namespace {
TEST(JsonDocumentTest, Smoke) {
  JsonDocument doc;
  EXPECT_TRUE(doc.Parse(R"({"short_url":"http://t.cn/x","msg":"ok"})"));
  EXPECT_EQ(doc.GetText("short_url"), "http://t.cn/x");
  EXPECT_EQ(doc.ToJson(), R"({"short_url":"http://t.cn/x","msg":"ok"})");
}
}  // namespace
}  // namespace quenbrel
