// The modifiers of value tags: parsing them from a tag's tokens, and
// applying them to a value. Text is UTF-8: truncate and length count code
// points, and no step cuts one in two. upper, lower and capitalize change
// ASCII letters only.
#include "Modifiers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "ModifierFormats.h"
#include "Suggest.h"
#include "VekExtensions.h"

namespace vekstd {

namespace {

bool IsBlank(unsigned char C) {
  return C <= 32;
}

bool Continuation(unsigned char C) {
  return (C & 0xC0) == 0x80;
}

long long CodePoints(std::string_view S) {
  long long n = 0;
  for (const char c : S) n += Continuation(static_cast<unsigned char>(c)) ? 0 : 1;
  return n;
}

// A whole non-negative decimal count, or -1.
long long Count(const std::string& S) {
  if (S.empty() || S.size() > 9 || S.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return std::stoll(S);
}

}  // namespace

bool ValueText(const TData& V, std::string& Text) {
  switch (V.type()) {
    case TData::value_t::string:
      Text = V.get_ref<const std::string&>();
      return true;
    case TData::value_t::boolean:
      Text = V.get<bool>() ? "true" : "false";
      return true;
    case TData::value_t::number_integer:
    case TData::value_t::number_unsigned:
    case TData::value_t::number_float:
      Text = V.dump();
      return true;
    case TData::value_t::null:
      Text.clear();
      return true;
    default:
      return false;
  }
}

bool HasDefault(const std::vector<TModStep>& Steps) {
  for (const auto& s : Steps) {
    if (s.Kind == TModStep::TKind::Default) return true;
  }
  return false;
}

// The most bytes a date= format gives, and what strftime is given room for.
constexpr long long kMaxDateText = 4096;

// The most bytes strftime can write for Format in the C locale: 32 for a
// conversion (the longest, %c, takes 24) or its field width when larger
// (%100Y pads to 100), 1 for any other byte; -1 past kMaxDateText.
long long DateFormatBound(const std::string& Format) {
  long long total = 0;
  for (size_t i = 0; i < Format.size() && total <= kMaxDateText; ++i) {
    if (Format[i] != '%') {
      ++total;
      continue;
    }
    ++i;
    while (i < Format.size() && std::strchr("_-0^#", Format[i]) && Format[i] != '\0') ++i;
    long long width = 0;
    for (; i < Format.size() && Format[i] >= '0' && Format[i] <= '9'; ++i)
      width = std::min(width * 10 + (Format[i] - '0'), kMaxDateText + 1);
    if (i < Format.size() && (Format[i] == 'E' || Format[i] == 'O')) ++i;
    total += std::max(width, 32LL);
  }
  return total <= kMaxDateText ? total : -1;
}

TTagFault ParseModifiers(const std::vector<TToken>& Tokens, size_t From,
                         std::vector<TModStep>& Steps, TModifier& Escape,
                         const TVekExtensions* Extensions) {
  static const std::pair<const char*, TModifier> escapes[] = {
      {"raw", TModifier::Raw},  {"html", TModifier::Html}, {"attr", TModifier::Attr},
      {"url", TModifier::Url},  {"js", TModifier::Js},     {"css", TModifier::Css},
      {"json", TModifier::Json}};
  enum class TValue : uint8_t { None, Required, Optional };  // what follows "name="
  struct TKnown {
    const char* Name;
    TModStep::TKind Kind;
    TValue Value;
  };
  static const TKnown known[] = {{"default", TModStep::TKind::Default, TValue::Required},
                                 {"upper", TModStep::TKind::Upper, TValue::None},
                                 {"lower", TModStep::TKind::Lower, TValue::None},
                                 {"capitalize", TModStep::TKind::Capitalize, TValue::None},
                                 {"trim", TModStep::TKind::Trim, TValue::None},
                                 {"truncate", TModStep::TKind::Truncate, TValue::Required},
                                 {"replace", TModStep::TKind::Replace, TValue::Required},
                                 {"join", TModStep::TKind::Join, TValue::Required},
                                 {"length", TModStep::TKind::Length, TValue::None},
                                 {"number", TModStep::TKind::Number, TValue::Optional},
                                 {"date", TModStep::TKind::Date, TValue::Required},
                                 {"group", TModStep::TKind::Number, TValue::Optional},
                                 {"point", TModStep::TKind::Number, TValue::Required}};
  auto fail = [](const std::string& Message, int At) { return TTagFault{Message, At}; };
  for (size_t i = From; i < Tokens.size(); ++i) {
    const TToken& t = Tokens[i];
    if (t.Kind != TToken::TKind::Word)
      return fail("a modifier is expected, not \"" + t.Text + "\"", t.Offset);
    bool hasValue = false;
    std::string value;
    if (i + 1 < Tokens.size() && Tokens[i + 1].Kind == TToken::TKind::Op &&
        Tokens[i + 1].Text == "=") {
      if (i + 2 >= Tokens.size() || Tokens[i + 2].Kind == TToken::TKind::Op)
        return fail(t.Text + "= needs a value", t.Offset);
      hasValue = true;
      value = Tokens[i + 2].Text;
      i += 2;
    }
    TModifier escape = TModifier::None;
    for (const auto& e : escapes) {
      if (t.Text == e.first) escape = e.second;
    }
    if (escape != TModifier::None) {
      if (hasValue) return fail(t.Text + " takes no value", t.Offset);
      if (Escape != TModifier::None && Escape != escape)
        return fail("a second escaping modifier: " + t.Text, t.Offset);
      Escape = escape;
      continue;
    }
    const TKnown* info = nullptr;
    for (const auto& s : known) {
      if (t.Text == s.Name) info = &s;
    }
    if (!info && Extensions && Extensions->Modifier(t.Text)) {
      TModStep step;
      step.Kind = TModStep::TKind::Custom;
      step.A = t.Text;
      step.B = value;
      step.N = hasValue ? 1 : 0;
      Steps.push_back(std::move(step));
      continue;
    }
    if (!info) {
      std::vector<std::string> names = {"raw", "html", "attr", "url", "js", "css", "json"};
      for (const auto& s : known) names.push_back(s.Name);
      const std::string near = Nearest(t.Text, names);
      if (!near.empty())
        return fail("unknown modifier \"" + t.Text + "\": did you mean \"" + near + "\"?",
                    t.Offset);
      return fail("unknown modifier \"" + t.Text +
                      "\" (known: default, upper, lower, capitalize, trim, truncate, replace, "
                      "join, length, number, group, point, date, and the escapings raw, html, "
                      "attr, url, js, css, json)",
                  t.Offset);
    }
    if (info->Value == TValue::None && hasValue) return fail(t.Text + " takes no value", t.Offset);
    if (info->Value == TValue::Required && !hasValue)
      return fail(t.Text + " needs a value", t.Offset);
    const std::string name = t.Text;
    if (name == "group" || name == "point") {
      if (Steps.empty() || Steps.back().Kind != TModStep::TKind::Number)
        return fail(name + " follows number, as in number=2 " + name, t.Offset);
      if (name == "group") {
        Steps.back().B = hasValue ? value : ",";
      } else {
        Steps.back().C = value;
      }
      continue;
    }
    TModStep step;
    step.Kind = info->Kind;
    step.A = value;
    if (step.Kind == TModStep::TKind::Truncate || step.Kind == TModStep::TKind::Number) {
      step.N = hasValue ? Count(value) : 0;
      if (step.N < 0 || (step.Kind == TModStep::TKind::Number && step.N > 20))
        return fail(name + "=" + value + ": \"" + value + "\" is not " +
                        (step.Kind == TModStep::TKind::Number
                             ? "a count of decimals from 0 to 20, as in number=2"
                             : "a count of characters (a whole number, 0 or more), as in "
                               "truncate=40"),
                    t.Offset);
      step.C = ".";
    } else if (step.Kind == TModStep::TKind::Replace) {
      const size_t bar = value.find('|');
      if (bar == std::string::npos || bar == 0)
        return fail("replace=\"FROM|TO\": the text to find, a bar, its replacement", t.Offset);
      step.A = value.substr(0, bar);
      step.B = value.substr(bar + 1);
    } else if (step.Kind == TModStep::TKind::Date) {
      if (DateFormatBound(value) < 0)
        return fail(
            "date=: a format that may give more than " + std::to_string(kMaxDateText) + " bytes",
            t.Offset);
      step.A += '.';  // never empty when it fits: strftime's 0 then means it does not
    }
    Steps.push_back(std::move(step));
  }
  return {};
}

namespace {

// The text in hand as R.Text itself, so that a step may change it in place.
std::string& OwnText(TModResult& R) {
  if (R.View.data() != R.Text.data() || R.View.size() != R.Text.size()) {
    R.Text.assign(R.View.data(), R.View.size());  // a part of R.Text itself is assigned safely
  }
  R.View = R.Text;
  return R.Text;
}

// The text of a value in hand: a string's own bytes (no copy), any other
// value written into R.Text. False for a list or an object.
bool TakeText(const TData& V, TModResult& R) {
  if (V.is_string()) {
    R.View = V.get_ref<const std::string&>();
    return true;
  }
  if (!ValueText(V, R.Text)) return false;
  R.View = R.Text;
  return true;
}

// A step on the value as it is (default, length, join, number, date):
// true when S is one, its work done on R.
bool ValueStep(const TModStep& s, TModResult& R) {
  const TData* cur = R.IsText ? nullptr : R.Value;
  switch (s.Kind) {
    case TModStep::TKind::Default: {
      const bool empty = R.IsText
                             ? R.View.empty()
                             : !cur || cur->is_null() ||
                                   (cur->is_string() && cur->get_ref<const std::string&>().empty());
      if (empty) {
        R.View = s.A;
        R.IsText = true;
      }
      return true;
    }
    case TModStep::TKind::Length: {
      long long n = 0;
      if (R.IsText) {
        n = CodePoints(R.View);
      } else if (!cur || cur->is_null()) {
        n = 0;
      } else if (cur->is_array() || cur->is_object()) {
        n = static_cast<long long>(cur->size());
      } else {
        TakeText(*cur, R);
        n = CodePoints(R.View);
      }
      R.Own = n;
      R.Value = &R.Own;
      R.IsText = false;
      return true;
    }
    case TModStep::TKind::Join: {
      if (!cur || !cur->is_structured()) return true;
      std::string joined, item;
      bool first = true;
      for (const auto& e : *cur) {
        if (!ValueText(e, item)) item = e.dump();
        if (!first) joined += s.A;
        joined += item;
        first = false;
      }
      R.Text = std::move(joined);
      R.View = R.Text;
      R.IsText = true;
      return true;
    }
    case TModStep::TKind::Number: {
      std::string& out = R.Scratch;
      const std::string_view* text = nullptr;
      std::string_view own;
      if (R.IsText) {
        text = &R.View;
      } else if (cur && cur->is_string()) {
        own = cur->get_ref<const std::string&>();
        text = &own;
      }
      if (text && NumberAsWritten(*text, s)) {
        // Written as it would be: the text itself, with no copy made.
        R.View = *text;
        R.IsText = true;
        return true;
      }
      if (FormatNumber(cur, text, s, out)) {
        R.Text.swap(out);
        R.View = R.Text;
        R.IsText = true;
      }
      return true;
    }
    case TModStep::TKind::Date: {
      std::string_view in;
      if (R.IsText) {
        in = R.View;
      } else if (cur && cur->is_string()) {
        in = cur->get_ref<const std::string&>();
      } else {
        return true;
      }
      std::tm tm;
      if (!ParseIsoDate(in, tm)) return true;
      char buf[kMaxDateText + 2];
      const size_t n = std::strftime(buf, sizeof buf, s.A.c_str(), &tm);
      if (n == 0) return true;  // more than the format's bound after all: unchanged
      R.Text.assign(buf, n - 1);
      R.View = R.Text;
      R.IsText = true;
      return true;
    }
    default:
      return false;
  }
}

// A step on text (upper, lower, capitalize, trim, truncate, replace): trim
// and a truncate that cuts nothing narrow the view, the others work on
// R.Text.
void TextStep(const TModStep& s, TModResult& R) {
  std::string_view& view = R.View;
  switch (s.Kind) {
    case TModStep::TKind::Upper:
      for (char& c : OwnText(R)) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      }
      break;
    case TModStep::TKind::Lower:
      for (char& c : OwnText(R)) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      }
      break;
    case TModStep::TKind::Capitalize:
      if (!view.empty() && view[0] >= 'a' && view[0] <= 'z') {
        std::string& text = OwnText(R);
        text[0] = static_cast<char>(text[0] - 'a' + 'A');
      }
      break;
    case TModStep::TKind::Trim: {
      size_t e = view.size();
      while (e > 0 && IsBlank(static_cast<unsigned char>(view[e - 1]))) --e;
      size_t b = 0;
      while (b < e && IsBlank(static_cast<unsigned char>(view[b]))) ++b;
      view = view.substr(b, e - b);
      break;
    }
    case TModStep::TKind::Truncate: {
      // No more code points than bytes: a text of at most N bytes keeps all.
      if (view.size() <= static_cast<unsigned long long>(s.N)) break;
      long long seen = 0;
      size_t i = 0;
      for (; i < view.size(); ++i) {
        if (!Continuation(static_cast<unsigned char>(view[i])) && seen++ == s.N) break;
      }
      if (i < view.size()) {
        view = view.substr(0, i);
        OwnText(R) += "\xE2\x80\xA6";  // U+2026, the ellipsis
        view = R.Text;
      }
      break;
    }
    case TModStep::TKind::Replace: {
      if (view.find(s.A) == std::string_view::npos) break;
      std::string out;
      size_t from = 0;
      for (size_t at; (at = view.find(s.A, from)) != std::string_view::npos; from = at + s.A.size())
        out.append(view.substr(from, at - from)).append(s.B);
      out.append(view.substr(from));
      R.Text = std::move(out);
      view = R.Text;
      break;
    }
    default:
      break;
  }
}

// An application's modifier: the value (or the text made so far) to the
// value its function makes.
void CustomStep(const TModStep& s, TModResult& R, const TVekExtensions* Extensions) {
  const TVekModifier* f = Extensions ? Extensions->Modifier(s.A) : nullptr;
  if (!f) throw TModifierFault("no function for the modifier \"" + s.A + "\"");
  static const TData kNull;
  const std::vector<std::string> args =
      s.N ? std::vector<std::string>{s.B} : std::vector<std::string>{};
  TData made;
  try {
    if (R.IsText) {
      made = (*f)(TData(std::string(R.View)), args);
    } else {
      made = (*f)(R.Value ? *R.Value : kNull, args);
    }
  } catch (const std::exception& e) {
    throw TModifierFault("modifier \"" + s.A + "\": " + e.what());
  }
  R.Own = std::move(made);
  R.Value = &R.Own;
  R.IsText = false;
}

}  // namespace

void ApplyModifiers(const std::vector<TModStep>& Steps, const TData* V, TModResult& R,
                    const TVekExtensions* Extensions) {
  R.IsText = false;
  R.Value = V;
  R.View = {};
  for (const TModStep& s : Steps) {
    switch (s.Kind) {
      case TModStep::TKind::Custom:
        CustomStep(s, R, Extensions);
        continue;
      case TModStep::TKind::Upper:
      case TModStep::TKind::Lower:
      case TModStep::TKind::Capitalize:
      case TModStep::TKind::Trim:
      case TModStep::TKind::Truncate:
      case TModStep::TKind::Replace:
        break;  // a step on text, below
      default:
        ValueStep(s, R);
        continue;
    }
    // The steps on text: a missing value, null, a list or an object passes.
    const TData* cur = R.IsText ? nullptr : R.Value;
    if (!R.IsText) {
      if (!cur || cur->is_null() || !TakeText(*cur, R)) continue;
      R.IsText = true;
    }
    TextStep(s, R);
  }
}

}  // namespace vekstd
