// JSON data: nlohmann's SAX parser feeding the one-pass builder.
#include <cstddef>
#include <stdexcept>
#include <string>

#include "data/DataBuilder.h"

namespace vekdata {
namespace {

// The offset of the first bracket outside strings that opens deeper than
// Limit (JSON's strings), or npos: where the JSON parser was stopped.
size_t DeepJsonBracket(const std::string& Text, int Limit) {
  int depth = 0;
  bool quoted = false;
  for (size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    if (quoted) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        quoted = false;
      }
    } else if (c == '"') {
      quoted = true;
    } else if (c == '[' || c == '{') {
      if (++depth > Limit) return i;
    } else if ((c == ']' || c == '}') && depth > 0) {
      --depth;
    }
  }
  return std::string::npos;
}

// JSON: nlohmann's SAX parser (it keeps its own nesting in a vector) feeds
// the builder; nesting past the limit stops it.
class TJsonEvents {
 public:
  using number_integer_t = json::number_integer_t;
  using number_unsigned_t = json::number_unsigned_t;
  using number_float_t = json::number_float_t;
  using string_t = json::string_t;
  using binary_t = json::binary_t;

  bool TooDeep = false;
  TDataBuilder Builder;

  bool null() { return Add(nullptr); }
  bool boolean(bool V) { return Add(V); }
  bool number_integer(number_integer_t V) { return Add(V); }
  bool number_unsigned(number_unsigned_t V) { return Add(V); }
  bool number_float(number_float_t V, const string_t&) { return Add(V); }
  bool string(string_t& V) { return Add(std::move(V)); }
  bool binary(binary_t&) { return Add(nullptr); }  // JSON text has none
  bool start_object(std::size_t) { return Open(true); }
  bool key(string_t& V) {
    Builder.Key(std::move(V));
    return true;
  }
  bool end_object() { return Close(); }
  bool start_array(std::size_t) { return Open(false); }
  bool end_array() { return Close(); }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& E) {
    throw std::runtime_error(E.what());
  }

 private:
  bool Add(json V) {
    Builder.Add(std::move(V));
    return true;
  }
  bool Open(bool Object) {
    if (Builder.Depth() >= kMaxDataNesting) return !(TooDeep = true);
    Builder.Open(Object);
    return true;
  }
  bool Close() {
    Builder.Close();
    return true;
  }
};

}  // namespace

json FromJson(const std::string& Text, const std::string& Name) {
  TJsonEvents events;
  try {
    json::sax_parse(Text, &events);
  } catch (const std::exception& e) {
    throw Fault(Name, e.what());
  }
  if (events.TooDeep) {
    const auto [line, column] = LineColumn(Text, DeepJsonBracket(Text, kMaxDataNesting));
    throw FaultAt(Name, line, column, kTooDeep);
  }
  return events.Builder.Take();
}

}  // namespace vekdata
