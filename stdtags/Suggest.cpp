// The nearest known word by an edit distance with swaps (optimal string
// alignment), over two rows and the one before them.
#include "Suggest.h"

#include <algorithm>

namespace vekstd {

namespace {

const size_t kLongest = 64;

size_t Distance(const std::string& A, const std::string& B) {
  std::vector<size_t> before(B.size() + 1), prev(B.size() + 1), row(B.size() + 1);
  for (size_t j = 0; j <= B.size(); ++j) prev[j] = j;
  for (size_t i = 1; i <= A.size(); ++i) {
    row[0] = i;
    for (size_t j = 1; j <= B.size(); ++j) {
      const size_t cost = A[i - 1] == B[j - 1] ? 0 : 1;
      row[j] = std::min({prev[j] + 1, row[j - 1] + 1, prev[j - 1] + cost});
      if (i > 1 && j > 1 && A[i - 1] == B[j - 2] && A[i - 2] == B[j - 1])
        row[j] = std::min(row[j], before[j - 2] + 1);
    }
    before.swap(prev);
    prev.swap(row);
  }
  return prev[B.size()];
}

}  // namespace

std::string Nearest(const std::string& Word, const std::vector<std::string>& Known) {
  if (Word.empty() || Word.size() > kLongest) return "";
  const size_t most = Word.size() <= 4 ? 1 : 2;
  std::string best;
  size_t bestDistance = most + 1;
  for (const std::string& k : Known) {
    if (k == Word || k.size() > kLongest) continue;
    const size_t d = Distance(Word, k);
    if (d < bestDistance) {
      bestDistance = d;
      best = k;
    }
  }
  return best;
}

std::string DidYouMean(const std::string& Word, const std::vector<std::string>& Known,
                       const std::string& Before, const std::string& After) {
  const std::string n = Nearest(Word, Known);
  return n.empty() ? "" : " (did you mean " + Before + n + After + "?)";
}

}  // namespace vekstd
