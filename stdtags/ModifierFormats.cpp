// The formats of the number= and date= modifiers: numbers written without
// the locale, and ISO 8601 dates read into a calendar time.
#include "ModifierFormats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace vekstd {

namespace {

// Appends Digits to Out with Sep every three from the right.
void AppendGrouped(std::string& Out, std::string_view Digits, const std::string& Sep) {
  const size_t n = Digits.size();
  if (Sep.empty()) {
    Out.append(Digits.data(), n);
    return;
  }
  for (size_t i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) Out += Sep;
    Out += Digits[i];
  }
}

// Text written as a plain decimal ("-0042.5": a sign, digits, a point and
// at most S.N digits) written with S.N decimals into Out, as the rounding of
// its double would give it: with no more decimals than S.N and at most 15
// digits in all, the double read back times 10^S.N rounds to the digits
// themselves. False, with Out untouched, for any other text.
bool PlainDecimal(std::string_view Text, const TModStep& S, std::string& Out) {
  size_t i = 0;
  const bool minus = !Text.empty() && Text[0] == '-';
  if (minus) ++i;
  const size_t wholeAt = i;
  while (i < Text.size() && Text[i] >= '0' && Text[i] <= '9') ++i;
  const size_t wholeEnd = i;
  if (wholeEnd == wholeAt || i == Text.size() || Text[i] != '.') return false;
  const size_t fracAt = ++i;
  while (i < Text.size() && Text[i] >= '0' && Text[i] <= '9') ++i;
  const size_t fracLen = i - fracAt;
  if (i != Text.size() || fracLen == 0 || fracLen > static_cast<size_t>(S.N)) return false;
  size_t lead = wholeAt;
  while (lead + 1 < wholeEnd && Text[lead] == '0') ++lead;  // "007" as "7"
  const std::string_view whole = Text.substr(lead, wholeEnd - lead);
  if (whole.size() + static_cast<size_t>(S.N) > 15) return false;
  const std::string_view frac = Text.substr(fracAt, fracLen);
  const bool zero = whole == "0" && frac.find_first_not_of('0') == std::string_view::npos;
  if (S.B.empty() && S.C.size() == 1) {
    // The common form, written in one piece.
    char buf[40];
    char* w = buf;
    if (minus && !zero) *w++ = '-';
    w = std::copy(whole.begin(), whole.end(), w);
    *w++ = S.C[0];
    w = std::copy(frac.begin(), frac.end(), w);
    w = std::fill_n(w, static_cast<size_t>(S.N) - fracLen, '0');
    Out.assign(buf, static_cast<size_t>(w - buf));
    return true;
  }
  Out.clear();
  if (minus && !zero) Out += '-';
  AppendGrouped(Out, whole, S.B);
  Out.append(S.C).append(frac.data(), frac.size());
  Out.append(static_cast<size_t>(S.N) - fracLen, '0');
  return true;
}

}  // namespace

bool NumberAsWritten(std::string_view Text, const TModStep& S) {
  if (!S.B.empty() || S.C.size() != 1 || S.C[0] != '.' || S.N <= 0) return false;
  const char* const p = Text.data();
  const size_t n = Text.size(), decimals = static_cast<size_t>(S.N);
  // "-", whole digits, ".", S.N digits; the whole part at most 15 digits
  // with the decimals (beyond, PlainDecimal gives way to the double).
  if (n < decimals + 2 || p[n - decimals - 1] != '.') return false;
  const size_t wholeAt = p[0] == '-' ? 1 : 0;
  const size_t point = n - decimals - 1;
  if (point == wholeAt || point - wholeAt + decimals > 15) return false;
  if (p[wholeAt] == '0' && point - wholeAt > 1) return false;  // "007.5": rewritten
  unsigned nonZero = 0;
  for (size_t i = wholeAt; i < n; ++i) {
    if (i == point) continue;
    const unsigned d = static_cast<unsigned char>(p[i]) - static_cast<unsigned>('0');
    if (d > 9) return false;
    nonZero |= d;
  }
  return !(nonZero == 0 && wholeAt == 1);  // "-0.00" is written "0.00"
}

namespace {

// A number written as JSON writes one, read without the locale: a whole
// number into Int (IsInt), else into Real. False when Text is no number.
bool ReadNumber(std::string_view Text, long long& Int, double& Real, bool& IsInt) {
  const char* b = Text.data();
  const char* e = b + Text.size();
  if (b == e || !(*b == '-' || (*b >= '0' && *b <= '9'))) return false;
  auto r = std::from_chars(b, e, Int);
  if (r.ec == std::errc() && r.ptr == e) {
    IsInt = true;
    return true;
  }
  r = std::from_chars(b, e, Real, std::chars_format::general);
  IsInt = false;
  return r.ec == std::errc() && r.ptr == e;
}

int Digits(std::string_view S, size_t& I, size_t N) {
  if (I + N > S.size()) return -1;
  int v = 0;
  for (size_t k = 0; k < N; ++k) {
    const char c = S[I + k];
    if (c < '0' || c > '9') return -1;
    v = v * 10 + (c - '0');
  }
  I += N;
  return v;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(long long Y, unsigned M, unsigned D) {
  Y -= M <= 2;
  const long long era = (Y >= 0 ? Y : Y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(Y - era * 400);
  const unsigned doy = (153 * (M > 2 ? M - 3 : M + 9) + 2) / 5 + D - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

}  // namespace

// Text with Decimals digits after the point, or false when the value is
// not a number (nor text holding one).
bool FormatNumber(const TData* V, const std::string_view* Text, const TModStep& S,
                  std::string& Out) {
  if (!(V && V->is_number()) && Text && PlainDecimal(*Text, S, Out)) return true;
  long long whole = 0;
  double real = 0;
  bool isInt = false;
  std::string digits, frac, sign;
  if (V && V->is_number_integer()) {
    digits = V->dump();  // exact, unsigned 64-bit numbers too
    isInt = true;
  } else if (V && V->is_number_float()) {
    real = V->get<double>();
  } else if (!Text || !ReadNumber(*Text, whole, real, isInt)) {
    return false;
  } else if (isInt) {
    digits = std::to_string(whole);
  }
  if (isInt && S.N == 0) {
    if (digits[0] == '-') {
      sign = "-";
      digits.erase(0, 1);
    }
  } else {
    if (isInt) real = std::stod(digits);
    // Halves round away from zero, as people round prices: 0.125 to 0.13.
    static const double kScale[21] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                      1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                      1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20};
    const double scale = kScale[S.N];
    if (S.N <= 15 && std::fabs(real * scale) < 1e15) {
      // Exact in a 64-bit integer: the digits are written from it.
      const long long scaled = std::llround(real * scale);
      const unsigned long long mag =
          scaled < 0 ? 0ULL - static_cast<unsigned long long>(scaled) : scaled;
      const unsigned long long unit = static_cast<unsigned long long>(scale);
      // The digits of the whole part, then those of the fraction, written
      // from the right into a small buffer.
      char buf[48];
      char* end = buf + sizeof buf;
      char* p = end;
      unsigned long long rest = mag % unit;
      for (long long k = 0; k < S.N; ++k, rest /= 10) *--p = static_cast<char>('0' + rest % 10);
      char* fracAt = p;
      unsigned long long left = mag / unit;
      do {
        *--p = static_cast<char>('0' + left % 10);
        left /= 10;
      } while (left > 0);
      Out.clear();
      if (scaled < 0) Out += '-';
      AppendGrouped(Out, std::string_view(p, static_cast<size_t>(fracAt - p)), S.B);
      if (S.N > 0) Out.append(S.C).append(fracAt, end);
      return true;
    }
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(S.N), real);
    const char* p = buf;
    if (*p == '-') {
      sign = "-";
      ++p;
    }
    // Whatever the C locale's decimal point, the digits are read back.
    const char* q = p;
    while (*q >= '0' && *q <= '9') ++q;
    digits.assign(p, q);
    const size_t len = std::strlen(buf);
    if (S.N > 0 && len >= static_cast<size_t>(S.N)) frac.assign(buf + len - S.N);
    if (digits.find_first_not_of('0') == std::string::npos &&
        frac.find_first_not_of('0') == std::string::npos)
      sign.clear();  // no "-0.00"
  }
  Out = sign;
  AppendGrouped(Out, digits, S.B);
  if (!frac.empty()) Out += S.C + frac;
  return true;
}

// An ISO 8601 date or date and time: YYYY-MM-DD, then optionally T or a
// blank, hh:mm, :ss, a fraction, and Z or an offset (kept as written: the
// time is shown as it was written, not converted).
bool ParseIsoDate(std::string_view S, std::tm& Tm) {
  size_t i = 0;
  const int y = Digits(S, i, 4);
  if (y < 0 || i >= S.size() || S[i++] != '-') return false;
  const int mo = Digits(S, i, 2);
  if (mo < 1 || mo > 12 || i >= S.size() || S[i++] != '-') return false;
  const int d = Digits(S, i, 2);
  static const int mdays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d < 1 || d > mdays[mo - 1] || (mo == 2 && d == 29 && !leap)) return false;
  int h = 0, mi = 0, s = 0;
  if (i < S.size()) {
    if (S[i] != 'T' && S[i] != 't' && S[i] != ' ') return false;
    ++i;
    h = Digits(S, i, 2);
    if (h < 0 || h > 23 || i >= S.size() || S[i++] != ':') return false;
    mi = Digits(S, i, 2);
    if (mi < 0 || mi > 59) return false;
    if (i < S.size() && S[i] == ':') {
      ++i;
      s = Digits(S, i, 2);
      if (s < 0 || s > 60) return false;
      if (i < S.size() && (S[i] == '.' || S[i] == ',')) {
        ++i;
        const size_t from = i;
        while (i < S.size() && S[i] >= '0' && S[i] <= '9') ++i;
        if (i == from) return false;
      }
    }
    if (i < S.size()) {
      if (S[i] == 'Z' || S[i] == 'z') {
        ++i;
      } else if (S[i] == '+' || S[i] == '-') {
        ++i;
        if (Digits(S, i, 2) < 0) return false;
        if (i < S.size() && S[i] == ':') ++i;
        if (Digits(S, i, 2) < 0) return false;
      }
    }
    if (i != S.size()) return false;
  }
  Tm = std::tm();
  Tm.tm_year = y - 1900;
  Tm.tm_mon = mo - 1;
  Tm.tm_mday = d;
  Tm.tm_hour = h;
  Tm.tm_min = mi;
  Tm.tm_sec = s;
  const long long days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  Tm.tm_wday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday
  Tm.tm_yday = static_cast<int>(days - DaysFromCivil(y, 1, 1));
  return true;
}

}  // namespace vekstd
