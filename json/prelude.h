// The JavaScript every JSON document's engine runs first: member counting and JSON text.
//
// One line of 7-bit ASCII in three parts:
//   1. get__count(c): the number of members for-in yields for c, less two (the two below);
//   2. our JSON writer: a global JSON object where there is none, Date, String, Number and
//      Boolean toJSON methods, and JSON.stringify(value, replacer, space) writing compact JSON:
//      own members in enumeration order, undefined and function members left out, holes and
//      non-finite numbers as null, dates as 2024-01-02T03:04:05Z, and inside strings the
//      backslash, the double quote and the characters 0x00-0x1F, 0x7F-0x9F, U+00AD,
//      U+0600-U+0604, U+070F, U+17B4, U+17B5, U+200C-U+200F, U+2028-U+202F, U+2060-U+206F,
//      U+FEFF and U+FFF0-U+FFFF escaped (\b \t \n \f \r \" \\, the rest as \u and four
//      lower-case hex digits). The engine's own JSON.parse stays: it reads JSON already;
//   3. Object.prototype.toJSONString and parseJSON, added by assignment, so that for-in over any
//      object also yields them (get__count and GetMemberNames allow for that).

#ifndef QUENBREL_JSON_PRELUDE_H_
#define QUENBREL_JSON_PRELUDE_H_

#include <string_view>

namespace quenbrel {

inline constexpr std::string_view kJsonPrelude =
    R"JS(function get__count(c){var i=-2;for(v in c)i++;return i})JS"
    R"JS(if(typeof JSON!=="object"||JSON===null){JSON={}})JS"
    R"JS((function(){"use strict";)JS"
    R"JS(var rx=/[\\"\u0000-\u001f\u007f-\u009f\u00ad\u0600-\u0604\u070f\u17b4\u17b5)JS"
    R"JS(\u200c-\u200f\u2028-\u202f\u2060-\u206f\ufeff\ufff0-\uffff]/g;)JS"
    R"JS(var meta={"\b":"\\b","\t":"\\t","\n":"\\n","\f":"\\f","\r":"\\r",'"':'\\"',"\\":"\\\\"};)JS"
    R"JS(var gap,indent,rep;)JS"
    R"JS(function two(n){return n<10?"0"+n:""+n})JS"
    R"JS(function own(){return this.valueOf()})JS"
    R"JS(Date.prototype.toJSON=function(){return isFinite(this.valueOf())?)JS"
    R"JS(this.getUTCFullYear()+"-"+two(this.getUTCMonth()+1)+"-"+two(this.getUTCDate())+"T"+)JS"
    R"JS(two(this.getUTCHours())+":"+two(this.getUTCMinutes())+":"+two(this.getUTCSeconds())+"Z")JS"
    R"JS(:null};)JS"
    R"JS(Boolean.prototype.toJSON=own;Number.prototype.toJSON=own;String.prototype.toJSON=own;)JS"
    R"JS(function esc(a){var c=meta[a];return typeof c==="string"?c:)JS"
    R"JS("\\u"+("0000"+a.charCodeAt(0).toString(16)).slice(-4)})JS"
    R"JS(function quote(s){rx.lastIndex=0;return rx.test(s)?'"'+s.replace(rx,esc)+'"':'"'+s+'"'})JS"
    R"JS(function str(key,holder){var i,k,v,length,mind=gap,partial,value=holder[key];)JS"
    R"JS(if(value&&typeof value==="object"&&typeof value.toJSON==="function"){)JS"
    R"JS(value=value.toJSON(key)})JS"
    R"JS(if(typeof rep==="function"){value=rep.call(holder,key,value)})JS"
    R"JS(switch(typeof value){)JS"
    R"JS(case "string":return quote(value);)JS"
    R"JS(case "number":return isFinite(value)?String(value):"null";)JS"
    R"JS(case "boolean":return String(value);)JS"
    R"JS(case "object":if(!value){return "null"})JS"
    R"JS(gap+=indent;partial=[];)JS"
    R"JS(if(Object.prototype.toString.apply(value)==="[object Array]"){length=value.length;)JS"
    R"JS(for(i=0;i<length;i+=1){partial[i]=str(i,value)||"null"})JS"
    R"JS(v=partial.length===0?"[]":gap?"[\n"+gap+partial.join(",\n"+gap)+"\n"+mind+"]":)JS"
    R"JS("["+partial.join(",")+"]";gap=mind;return v})JS"
    R"JS(if(rep&&typeof rep==="object"){length=rep.length;for(i=0;i<length;i+=1){)JS"
    R"JS(if(typeof rep[i]==="string"){k=rep[i];v=str(k,value);)JS"
    R"JS(if(v){partial.push(quote(k)+(gap?": ":":")+v)}}}}else{)JS"
    R"JS(for(k in value){if(Object.prototype.hasOwnProperty.call(value,k)){v=str(k,value);)JS"
    R"JS(if(v){partial.push(quote(k)+(gap?": ":":")+v)}}}})JS"
    R"JS(v=partial.length===0?"{}":gap?"{\n"+gap+partial.join(",\n"+gap)+"\n"+mind+"}":)JS"
    R"JS("{"+partial.join(",")+"}";gap=mind;return v})JS"
    R"JS(})JS"
    R"JS(JSON.stringify=function(value,replacer,space){var i;gap="";indent="";)JS"
    R"JS(if(typeof space==="number"){for(i=0;i<space;i+=1){indent+=" "}})JS"
    R"JS(else if(typeof space==="string"){indent=space})JS"
    R"JS(rep=replacer;if(replacer&&typeof replacer!=="function"&&)JS"
    R"JS((typeof replacer!=="object"||typeof replacer.length!=="number")){)JS"
    R"JS(throw new Error("JSON.stringify")})JS"
    R"JS(return str("",{"":value})};)JS"
    R"JS(if(!Object.prototype.toJSONString){Object.prototype.toJSONString=function(filter){)JS"
    R"JS(return JSON.stringify(this,filter)};Object.prototype.parseJSON=function(filter){)JS"
    R"JS(return JSON.parse(this,filter)}})JS"
    R"JS(}());)JS";

}  // namespace quenbrel

#endif  // QUENBREL_JSON_PRELUDE_H_
