// JSON document over a sandboxed script engine: a JSON value held as a JavaScript variable,
// loaded from text, serialised, and read by path through generated code.
//
// A JsonDocument keeps its value in the global variable "da" of a ScriptEngine of its own
// (json/script_engine.h) and keeps no copy on its side: every operation joins the variable name,
// a path and a value into a short piece of JavaScript and has the engine run it. A path is
// member-access code appended to the variable ("data.list[0].title"); it is inserted verbatim,
// so it is case-sensitive and whatever else it holds runs as code. Parse runs its text as code
// too: it is the expression whose value the document takes. All of it runs inside the engine's
// sandbox (time, memory and stack bounds; see script_engine.h), so a hostile text ends in the
// empty result and the document answers the next operation normally.
//
// A document is ready (it has an engine) or empty (no engine: creation failed, or Destroy ran).
// Nothing raises or reports an error: failures give empty text, 0, false, or the result each
// operation names (GetCount of a missing member is -2, GetType is Null or Other).
//
// Examples:
//   JsonDocument doc;
//   doc.Parse(R"({"short_url":"http://t.cn/x","msg":"ok","n":0.1})")  == true
//   doc.GetText("short_url")                  == "http://t.cn/x"
//   doc.GetText("short_url", true)            == "\"http://t.cn/x\""
//   doc.GetText("n")                          == "0.1"
//   doc.GetType()                             == JsonType::Object
//   doc.ToJson()                              ==
//   R"({"short_url":"http://t.cn/x","msg":"ok","n":0.1})" doc.Parse("while(1){}") == false   //
//   stopped after about a second doc.Destroy();
//
// Copy shares the engine: a change made through either document is seen through both. GetObject
// and GetItemObject instead rebuild the member from its JSON text in an engine of their own.
//
// The editing operations (SetText to Clear) are part of the interface but do nothing yet.
//
// Thread safety: a document, its copies and the documents it makes belong to the thread that
// constructed it.

#ifndef QUENBREL_JSON_JSON_DOCUMENT_H_
#define QUENBREL_JSON_JSON_DOCUMENT_H_

#include <memory>
#include <string_view>

#include "json/script_engine.h"
#include "text/text.h"

namespace quenbrel {

// The type code of GetType; Reset takes it too. Code 3 is not used.
enum class JsonType : int {
  Null = 0,     // null, or no such member
  Boolean = 1,  // true or false
  Number = 2,   // a number
  Object = 4,   // an object
  Array = 5,    // an array
  String = 6,   // a string
  Other = -1,   // any other type, or no type was obtained
};

class JsonDocument {
 public:
  // A new document holding an empty object, ready for use (empty if the engine cannot start).
  JsonDocument();
  JsonDocument(const JsonDocument&) = delete;
  JsonDocument& operator=(const JsonDocument&) = delete;

  // The operations, in the order of the class's table of operations.

  // Releases the engine reference; the document is empty afterwards. Safe to call twice.
  virtual void Destroy();
  // A new document of the same class that shares this one's engine and so its value.
  virtual std::unique_ptr<JsonDocument> Copy();
  // Creates the engine, runs the prelude and sets the value to an empty object.
  virtual void Init();
  // Runs text as the expression whose value the document takes, in a fresh engine. True when
  // it ran and its value is neither null nor undefined; after a failure the value is null.
  // An empty document stays empty and answers false.
  virtual bool Parse(std::string_view text);
  // The whole value as compact JSON.
  virtual Text ToJson();

  // Editing (not yet implemented; these do nothing).
  virtual void SetText(std::string_view path, std::string_view value, bool asJson = false);
  virtual void SetJson(std::string_view path, std::string_view value);
  virtual void SetNumber(std::string_view path, double value);

  // The member as a number: numbers as they are, booleans 1 or 0, numeric strings converted;
  // 0 otherwise.
  virtual double GetNumber(std::string_view path);
  // The member as compact JSON; empty text when it is missing.
  virtual Text GetJson(std::string_view path);
  // A string member's characters, a number as ToText of a real ("%.13g"), other values as the
  // engine's string conversion; with asJson the member's JSON. Empty text when missing or null.
  virtual Text GetText(std::string_view path, bool asJson = false);
  // A new document holding the member rebuilt from its JSON text, in an engine of its own.
  virtual std::unique_ptr<JsonDocument> GetObject(std::string_view path);
  // Members of an object or elements of an array; -2 for a missing member, 0 when the path
  // cannot be evaluated.
  virtual int GetCount(std::string_view path = {});

  virtual void AppendItem(std::string_view value, std::string_view path = {},
                          bool asJson = false);  // editing: does nothing yet

  // As GetObject, for element index of the array at path (the document itself when empty).
  virtual std::unique_ptr<JsonDocument> GetItemObject(int index, std::string_view path = {});
  // Element index of the array at path (the document itself when empty) as text, or its JSON.
  virtual Text GetItemText(int index, std::string_view path = {}, bool asJson = false);

  // Editing (not yet implemented; these do nothing).
  virtual void SetItem(int index, std::string_view value, bool asJson = false);
  virtual void RemoveItem(int index);
  virtual void RemoveItemByPath(std::string_view path);
  virtual void Reset(JsonType kind);
  virtual void SetRoot(std::string_view value, bool asJson = false);

  // True when the member is there and not null.
  virtual bool Exists(std::string_view path);
  // Replaces names by the member names of the object at path (the document itself when empty),
  // in enumeration order, and returns their number.
  virtual int GetMemberNames(TextList& names, std::string_view path = {});
  // The type code of the member at path (the document itself when empty).
  virtual JsonType GetType(std::string_view path = {});

  virtual void Clear();  // editing: does nothing yet

  virtual ~JsonDocument();

 protected:
  // A document over an existing engine, without Init (for Copy).
  JsonDocument(Text name, std::shared_ptr<ScriptEngine> engine);

  const Text& name() const { return name_; }
  const std::shared_ptr<ScriptEngine>& engine() const { return engine_; }

 private:
  // The joined expressions of the reads.
  Text Dotted(std::string_view path) const;
  Text BracketAware(std::string_view path) const;
  Text OptionalDotted(std::string_view path) const;
  Text OptionalBracketAware(std::string_view path) const;
  // A new document loaded from the JSON text that the expression json gives in this one.
  std::unique_ptr<JsonDocument> ObjectFrom(const Text& json);

  Text EvalText(std::string_view code) { return engine_ ? engine_->EvalText(code) : Text(); }
  double EvalNumber(std::string_view code) { return engine_ ? engine_->EvalNumber(code) : 0; }
  bool EvalBoolean(std::string_view code) { return engine_ && engine_->EvalBoolean(code); }
  void Eval(std::string_view code) {
    if (engine_) engine_->Eval(code);
  }

  Text name_;
  std::shared_ptr<ScriptEngine> engine_;
};

}  // namespace quenbrel

#endif  // QUENBREL_JSON_JSON_DOCUMENT_H_
