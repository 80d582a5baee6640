// Deterministic benchmark workloads: HTML-like text with tags, written once
// for the producer and once for each peer template engine, together with the
// bytes every engine must produce.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace bench {

/// What the producer's handler does with a workload's tags.
enum class HandlerKind {
  Lookup,    // name -> value from Workload::values
  Image,     // formats src=, w=, h= into an <img> element
  Rows,      // pair tag "rows" expanded once per row; id, name, price fields
  OpenPair,  // like Lookup, and every tag answers rsPairTag
  Count,     // answers the number of parameters
  Pairs,     // every tag whose name does not begin with "/" opens a pair; no pair handler
};

struct Row {
  std::string id, name, price;
};

/// One workload. The producer gets `vek`; ctemplate gets `ctemplate`; both
/// mustache engines get `mustache`. Every engine must produce `expected`.
/// Peer templates are empty for the workloads that only the producer runs.
struct Workload {
  std::string name;
  HandlerKind handler = HandlerKind::Lookup;
  std::string beg = "<#", end = "#>";
  std::string vek, ctemplate, mustache, expected;
  std::size_t tags = 0;  // tags the producer handles in one expansion
  // Data: top-level variables, and the rows of a loop workload.
  std::unordered_map<std::string, std::string> values;
  std::vector<Row> rows;
};

/// W1 sparse (spacing 1024) and W2 dense (spacing 32): «<#v17#>» about every
/// `spacing` bytes of a template of about `size` bytes; 64 names.
Workload MakeLookup(const std::string& name, std::size_t size, std::size_t spacing);
/// W3: «<#img src="pic 12.png" w=112 h=62#>» about every 100 bytes.
Workload MakeImages(std::size_t size);
/// W4: one pair tag around a table row, expanded for `rows` rows.
Workload MakeLoop(std::size_t rows);
/// W5a: every tag opens a pair that is never closed (dense, as W2).
Workload MakeUnclosedPairs(std::size_t size);
/// W5b: an opening delimiter about every 32 bytes and no closing one.
Workload MakeUnclosedDelimiters(std::size_t size);
/// W5c: one-byte delimiters "<" and ">": every HTML element is a tag.
Workload MakeOneByteDelimiters(std::size_t size);
/// W5d: one tag of about `size` bytes with blank-separated parameters.
Workload MakeHugeTag(std::size_t size);
/// W5e: «<#never#>», an opener never closed, then `pairs` closed pairs of
/// distinct names «<#a17#>b<#/a17#>»; every opener answers rsPairTag.
Workload MakeDistinctPairs(std::size_t pairs);
/// W5f: «<li><#row#>cell</li>» repeated to about `size` bytes, «row»
/// answering rsPairTag and never closed: an opener about every 20 bytes.
Workload MakeUnclosedRows(std::size_t size);

/// W2 for the producer only: the template and the values, without the
/// expected output or the peers' templates (for measuring memory).
Workload MakeDenseTemplateOnly(std::size_t size);

}  // namespace bench
