// JsonDocument: every operation is a piece of generated JavaScript run in the document's engine.

#include "json/json_document.h"

#include <cmath>
#include <limits>
#include <utility>

#include "json/prelude.h"

namespace quenbrel {

JsonDocument::JsonDocument() : name_("da") { Init(); }

JsonDocument::JsonDocument(Text name, std::shared_ptr<ScriptEngine> engine)
    : name_(std::move(name)), engine_(std::move(engine)) {}

JsonDocument::~JsonDocument() = default;

void JsonDocument::Destroy() {
  engine_.reset();
  name_.clear();
}

std::unique_ptr<JsonDocument> JsonDocument::Copy() {
  return std::unique_ptr<JsonDocument>(new JsonDocument(name_, engine_));
}

void JsonDocument::Init() {
  engine_ = ScriptEngine::Create();
  if (engine_) engine_->AddCode(kJsonPrelude, {.keepCompiled = true});
  Eval(ConcatTexts("var ", name_, "={}"));
}

bool JsonDocument::Parse(std::string_view text) {
  if (engine_) {
    engine_.reset();
    Init();
  }
  if (!engine_) return false;
  Eval(ConcatTexts("var ", name_, "=null"));
  engine_->AddCode(ConcatTexts("var ", name_, "=eval(", text, ")"));
  return EvalBoolean(ConcatTexts("null !=", name_));
}

Text JsonDocument::ToJson() { return EvalText(ConcatTexts("JSON.stringify(", name_, ")")); }

void JsonDocument::SetText(std::string_view, std::string_view, bool) {}
void JsonDocument::SetJson(std::string_view, std::string_view) {}
void JsonDocument::SetNumber(std::string_view, double) {}

Text JsonDocument::Dotted(std::string_view path) const { return ConcatTexts(name_, ".", path); }

Text JsonDocument::BracketAware(std::string_view path) const {
  return !path.empty() && path.front() == '[' ? ConcatTexts(name_, path) : Dotted(path);
}

Text JsonDocument::OptionalDotted(std::string_view path) const {
  return path.empty() ? name_ : Dotted(path);
}

Text JsonDocument::OptionalBracketAware(std::string_view path) const {
  return path.empty() ? name_ : BracketAware(path);
}

double JsonDocument::GetNumber(std::string_view path) { return EvalNumber(Dotted(path)); }

Text JsonDocument::GetJson(std::string_view path) {
  return EvalText(ConcatTexts("JSON.stringify(", Dotted(path), ")"));
}

Text JsonDocument::GetText(std::string_view path, bool asJson) {
  const Text p = BracketAware(path);
  if (asJson) return EvalText(ConcatTexts("JSON.stringify(", p, ")"));
  if (!engine_) return {};
  if (GetType(path) == JsonType::Number) return ToText(GetNumber(path));
  return EvalText(p);
}

std::unique_ptr<JsonDocument> JsonDocument::ObjectFrom(const Text& json) {
  JsonDocument temporary;
  temporary.Parse(EvalText(json));
  std::unique_ptr<JsonDocument> copy = temporary.Copy();
  temporary.Destroy();
  return copy;
}

std::unique_ptr<JsonDocument> JsonDocument::GetObject(std::string_view path) {
  return ObjectFrom(ConcatTexts("JSON.stringify(", BracketAware(path), ")"));
}

int JsonDocument::GetCount(std::string_view path) {
  const double count = EvalNumber(ConcatTexts("get__count(", OptionalBracketAware(path), ")"));
  // A count that does not fit an int (only code of the document's own can give one) counts as
  // a failed conversion.
  if (!(std::fabs(count) < 2147483648.0)) return 0;
  return static_cast<int>(std::trunc(count));
}

void JsonDocument::AppendItem(std::string_view, std::string_view, bool) {}

std::unique_ptr<JsonDocument> JsonDocument::GetItemObject(int index, std::string_view path) {
  return ObjectFrom(ConcatTexts("JSON.stringify(", OptionalDotted(path), "[", ToText(index), "])"));
}

Text JsonDocument::GetItemText(int index, std::string_view path, bool asJson) {
  const Text p = OptionalDotted(path);
  if (asJson) return EvalText(ConcatTexts("JSON.stringify(", p, "[", ToText(index), "])"));
  return EvalText(ConcatTexts(p, "[", ToText(index), "]"));
}

void JsonDocument::SetItem(int, std::string_view, bool) {}
void JsonDocument::RemoveItem(int) {}
void JsonDocument::RemoveItemByPath(std::string_view) {}
void JsonDocument::Reset(JsonType) {}
void JsonDocument::SetRoot(std::string_view, bool) {}

bool JsonDocument::Exists(std::string_view path) {
  return EvalBoolean(ConcatTexts(Dotted(path), " !=null"));
}

int JsonDocument::GetMemberNames(TextList& names, std::string_view path) {
  const Text p = OptionalBracketAware(path);
  Text list = EvalText(ConcatTexts("var ary=''; for (var key in ", p, ") {ary=ary+ key+','; }"));
  list = ReplaceText(list, "toJSONString,", {.matchCase = true});
  list = ReplaceText(list, "parseJSON,", {.matchCase = true});
  Eval("ary=null");
  names = SplitText(list, ",");
  return ListCount(names);
}

JsonType JsonDocument::GetType(std::string_view path) {
  const Text p = OptionalDotted(path);
  if (EvalBoolean(ConcatTexts(p, "==null"))) return JsonType::Null;
  const Text type = EvalText(ConcatTexts("typeof (", p, ")"));
  if (type == "string") return JsonType::String;
  if (type == "object") {
    const Text json = EvalText(ConcatTexts("JSON.stringify(", p, ")"));
    return !json.empty() && json.front() == '[' ? JsonType::Array : JsonType::Object;
  }
  if (type == "number") return JsonType::Number;
  if (type == "boolean") return JsonType::Boolean;
  return JsonType::Other;
}

void JsonDocument::Clear() {}

}  // namespace quenbrel
