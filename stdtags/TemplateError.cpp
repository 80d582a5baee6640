// EVekTemplateError: an error of the template layer with its place, its
// include chain and its message, and the one text they are formatted to.
#include <algorithm>

#include "VekStdTags.h"

struct EVekTemplateError::TFields {
  TPlace Where;
  std::string Message;
  std::vector<TPlace> IncludedFrom;
  std::string Limit;
};

namespace {

std::string PlaceText(const EVekTemplateError::TPlace& P) {
  if (P.Line <= 0) return P.File;
  return P.File + ":" + std::to_string(P.Line) + ":" + std::to_string(P.Column);
}

}  // namespace

std::string EVekTemplateError::Format(const TPlace& Where, const std::string& Message,
                                      const std::vector<TPlace>& IncludedFrom) {
  // The include chain ends the first line: the lines after it list further
  // faults, each with its own place.
  const size_t lineEnd = std::min(Message.find('\n'), Message.size());
  std::string text = Where.File.empty() ? "" : PlaceText(Where) + ": ";
  text.append(Message, 0, lineEnd);
  for (size_t i = 0; i < IncludedFrom.size(); ++i)
    text += (i == 0 ? " (included from " : ", from ") + PlaceText(IncludedFrom[i]);
  if (!IncludedFrom.empty()) text += ")";
  text.append(Message, lineEnd, std::string::npos);
  return text;
}

EVekTemplateError::EVekTemplateError(const std::string& Message)
    : std::runtime_error(Message),
      FFields(std::make_shared<const TFields>(TFields{{}, Message, {}, {}})) {}

EVekTemplateError::EVekTemplateError(TPlace Where, const std::string& Message,
                                     std::vector<TPlace> IncludedFrom, const std::string& Limit)
    : std::runtime_error(Format(Where, Message, IncludedFrom)),
      FFields(std::make_shared<const TFields>(
          TFields{std::move(Where), Message, std::move(IncludedFrom), Limit})) {}

const AnsiString& EVekTemplateError::File() const noexcept {
  return FFields->Where.File;
}
int EVekTemplateError::Line() const noexcept {
  return FFields->Where.Line;
}
int EVekTemplateError::Column() const noexcept {
  return FFields->Where.Column;
}
const std::string& EVekTemplateError::Message() const noexcept {
  return FFields->Message;
}
const std::vector<EVekTemplateError::TPlace>& EVekTemplateError::IncludedFrom() const noexcept {
  return FFields->IncludedFrom;
}
const std::string& EVekTemplateError::Limit() const noexcept {
  return FFields->Limit;
}
