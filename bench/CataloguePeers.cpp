// The catalogue page through ctemplate (auto-escape) and kainjow mustache.
#include "CataloguePeers.h"

#include <ctemplate/template.h>
#include <ctemplate/template_dictionary.h>

#include <kainjow/mustache.hpp>

namespace bench {

namespace {

// The standard tags' catalogue.html in each peer's syntax: the same text,
// the same values in element text, quoted attributes and a URL's path.
const char* const kCtemplateCatalogue =
    "{{%AUTOESCAPE context=\"HTML\"}}<!DOCTYPE html>\n<html><head><title>{{title}}</title>"
    "</head><body>\n<ul class=\"items\">\n"
    "{{#items}}<li id=\"item-{{id}}\" data-price=\"{{price}}\"><a href=\"/item/{{id}}\" "
    "title=\"{{name}}\">{{name}}</a> <span class=\"price\">{{price}}</span>{{#sale}} "
    "<em>sale</em>{{/sale}}</li>\n{{/items}}</ul>\n</body></html>\n";
const char* const kMustacheCatalogue =
    "<!DOCTYPE html>\n<html><head><title>{{title}}</title></head><body>\n<ul class=\"items\">\n"
    "{{#items}}<li id=\"item-{{id}}\" data-price=\"{{price}}\"><a href=\"/item/{{id}}\" "
    "title=\"{{name}}\">{{name}}</a> <span class=\"price\">{{price}}</span>{{#sale}} "
    "<em>sale</em>{{/sale}}</li>\n{{/items}}</ul>\n</body></html>\n";

class CtemplateCatalogue : public Engine {
 public:
  CtemplateCatalogue(const std::vector<CatalogueItem>& Items, const std::string& Title)
      : FDict("catalogue") {
    FDict.SetValue("title", Title);
    for (const CatalogueItem& item : Items) {
      ctemplate::TemplateDictionary* d = FDict.AddSectionDictionary("items");
      d->SetIntValue("id", item.Id);
      d->SetValue("name", item.Name);
      d->SetValue("price", item.Price);
      if (item.Sale) d->ShowSection("sale");
    }
    FTemplate.reset(
        ctemplate::Template::StringToTemplate(kCtemplateCatalogue, ctemplate::DO_NOT_STRIP));
  }

  std::string Render() override {
    std::string out;
    FTemplate->Expand(&out, &FDict);
    return out;
  }

 private:
  ctemplate::TemplateDictionary FDict;
  std::unique_ptr<ctemplate::Template> FTemplate;
};

class MustacheCatalogue : public Engine {
 public:
  using Mustache = kainjow::mustache::mustache;
  using Data = kainjow::mustache::data;

  MustacheCatalogue(const std::vector<CatalogueItem>& Items, const std::string& Title)
      : FTemplate(kMustacheCatalogue) {
    Data items(Data::type::list);
    for (const CatalogueItem& item : Items) {
      Data d;
      d.set("id", std::to_string(item.Id));  // kainjow's data holds no numbers
      d.set("name", item.Name);
      d.set("price", item.Price);
      d.set("sale", Data(item.Sale));
      items.push_back(d);
    }
    FData.set("title", Title);
    FData.set("items", items);
  }

  std::string Render() override {
    std::string out;
    const Mustache::render_handler sink = [&out](const std::string& s) { out += s; };
    FTemplate.render(FData, sink);
    return out;
  }

 private:
  Mustache FTemplate;
  Data FData;
};

}  // namespace

std::vector<CatalogueItem> CatalogueItems(int Count) {
  std::vector<CatalogueItem> items;
  for (int i = 0; i < Count; ++i) {
    items.push_back({i, "Item " + std::to_string(i) + " <" + std::to_string(i % 7) + "> & co",
                     std::to_string(i % 100) + ".50", i % 3 == 0});
  }
  return items;
}

std::unique_ptr<Engine> MakeCataloguePeer(const std::string& Name,
                                          const std::vector<CatalogueItem>& Items,
                                          const std::string& Title) {
  if (Name == "ctemplate") return std::make_unique<CtemplateCatalogue>(Items, Title);
  if (Name == "mustache") return std::make_unique<MustacheCatalogue>(Items, Title);
  return nullptr;
}

}  // namespace bench
