// The URL part tracker: where literal text of a URL attribute has reached,
// and whether its literal scheme is one a value may follow.
#include "UrlContext.h"

namespace vekstd {

namespace {

bool IsAlpha(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool AllowedScheme(const std::string& Scheme) {
  return Scheme == "http" || Scheme == "https" || Scheme == "mailto" || Scheme == "tel";
}

// The part a ':' after the literal Prefix settles: a scheme, allowed or not,
// or a relative reference whose first segment holds a colon.
TUrlPart AfterColon(const std::string& Prefix) {
  std::string scheme;
  for (const char b : Prefix) {
    const unsigned char u = static_cast<unsigned char>(b);
    if (u <= 32) continue;
    if (!(IsAlpha(u) ||
          (!scheme.empty() && ((u >= '0' && u <= '9') || u == '+' || u == '-' || u == '.'))))
      return TUrlPart::Path;
    scheme += static_cast<char>(u >= 'A' && u <= 'Z' ? u + 32 : u);
  }
  return scheme.empty() || AllowedScheme(scheme) ? TUrlPart::Path : TUrlPart::BadScheme;
}

void SchemeStep(TUrlState& S, unsigned char c) {
  if (S.Part == TUrlPart::Start && c <= 32) {
    if (S.Prefix.size() < TUrlState::kMaxPrefix) S.Prefix += static_cast<char>(c);
    return;
  }
  S.Part = TUrlPart::Scheme;
  if (c == ':') {
    S.Part = AfterColon(S.Prefix);
    S.Prefix.clear();
  } else if (c == '/') {
    S.Part = TUrlPart::Path;
    S.Prefix.clear();
  } else if (c == '?' || c == '#') {
    S.Part = TUrlPart::Query;
    S.Prefix.clear();
  } else if (S.Prefix.size() < TUrlState::kMaxPrefix) {
    S.Prefix += static_cast<char>(c);
  } else {
    // Too long to be judged with the value: taken as if a value stood
    // here, so that later values are percent-encoded.
    S.Part = TUrlPart::AfterValue;
    S.Prefix.clear();
  }
}

void AfterValueStep(TUrlState& S, unsigned char c, std::string& Problem) {
  if (c == ':') {
    Problem = "a ':' after a value at the start of a URL lets the value choose the scheme";
  } else if (c == '/') {
    S.Part = TUrlPart::Path;
  } else if (c == '?' || c == '#') {
    S.Part = TUrlPart::Query;
  }
}

}  // namespace

void TUrlState::AppendKey(std::string& Key) const {
  Key += static_cast<char>(Part);
  Key += static_cast<char>(Prefix.size());
  Key += Prefix;
}

void UrlStep(TUrlState& State, unsigned char C, std::string& Problem) {
  switch (State.Part) {
    case TUrlPart::Start:
    case TUrlPart::Scheme:
      SchemeStep(State, C);
      break;
    case TUrlPart::AfterValue:
      AfterValueStep(State, C, Problem);
      break;
    case TUrlPart::Path:
      if (C == '?' || C == '#') State.Part = TUrlPart::Query;
      break;
    case TUrlPart::Unknown:
      if (C == '?' || C == '#') State.Part = TUrlPart::Query;
      break;
    case TUrlPart::Query:
    case TUrlPart::BadScheme:
      break;
  }
}

const char* TUrlState::Describe() const {
  switch (Part) {
    case TUrlPart::Start:
    case TUrlPart::Scheme:
      return "the start of the URL in";
    case TUrlPart::AfterValue:
      return "the URL after a value at its start in";
    case TUrlPart::Path:
      return "the path of the URL in";
    case TUrlPart::Query:
      return "the query or fragment of the URL in";
    case TUrlPart::BadScheme:
      return "a URL of a scheme that runs script in";
    case TUrlPart::Unknown:
      return "a part of the URL that depends on the way through a condition in";
  }
  return "a URL in";
}

TUrlState JoinUrl(const TUrlState& A, const TUrlState& B) {
  if (A == B) return A;
  TUrlState out;
  out.Part = A.Part == TUrlPart::BadScheme || B.Part == TUrlPart::BadScheme ? TUrlPart::BadScheme
                                                                            : TUrlPart::Unknown;
  return out;
}

}  // namespace vekstd
